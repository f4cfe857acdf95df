/*
 * script_set.cpp: "/SET NAME FUNCTION ARG..." in a run: the value NAME
 * gets what the function (script/script_call.h) computes over its
 * arguments.
 *
 * A function that cannot be computed fails like a check: one line in the
 * pane, counted, and the run goes on. Its arguments may be keys, so the
 * line is never shown whole: a failure's reason names what is wrong, not
 * the bytes, and the runner's report names the line "/SET NAME FUNCTION".
 * A function that succeeds is no check, as a "/SET" that succeeds is not.
 * The room for the arguments is allocated at the run's first function, so
 * scripts without one cost nothing more.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "script/script_local.h"

enum {
    SCRIPT_SET_NAME_SHOWN = 40, /* characters of NAME a title or reason shows */
};

int script_set_call(ScriptRun *run, const char *name, size_t length) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE];
    char title[16 + SCRIPT_SET_NAME_SHOWN + SCRIPT_CALL_WORD_MAX];
    char kept[SCRIPT_VALUE_NAME_SIZE];
    const char *text = name + length;
    int skipped = 0;
    int word = script_call_word(text, &skipped);
    int shown =
        (int)(length < (size_t)SCRIPT_SET_NAME_SHOWN ? length : (size_t)SCRIPT_SET_NAME_SHOWN);
    int count = 0;

    if (word == 0)
        return 0;
    snprintf(title, sizeof title, "/SET %.*s %.*s", shown, name,
             word < (int)SCRIPT_CALL_WORD_MAX ? word : (int)SCRIPT_CALL_WORD_MAX, text + skipped);
    if (!script_value_name_ok(name, (int)length)) {
        snprintf(message, sizeof message, "cannot set %.*s", shown, name);
    } else if (!run->call && !(run->call = (ScriptCallSpace *)malloc(sizeof *run->call))) {
        snprintf(message, sizeof message, "no memory for %.*s", shown, name);
    } else {
        snprintf(kept, sizeof kept, "%.*s", (int)length, name);
        /* the result goes into the command buffer, free between exchanges */
        if (script_call_run(run->values, text, run->call, run->command, SCRIPT_VALUE_MAX, &count,
                            message, sizeof message) &&
            script_value_set(run->values, kept, run->command, count, message, sizeof message))
            return 1;
    }
    script_check_done_as(run, title, message);
    return 1;
}

void script_set_free(ScriptRun *run) {
    free(run->call);
    run->call = 0;
}
