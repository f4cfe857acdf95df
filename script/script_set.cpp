/*
 * script_set.cpp: "/SET NAME FUNCTION ARG..." in a run: the value NAME
 * gets what the function (script/script_call.h) computes over its
 * arguments.
 *
 * A function that cannot be computed fails like a check: one line in the
 * pane, counted, and the run goes on. Its arguments may be keys, so the
 * line is never shown whole: a failure's reason names what is wrong, not
 * the bytes, and the runner's report names the line "/SET NAME FUNCTION"
 * ("/SET NAME" when the function is unknown, "/SET" when NAME is no name:
 * either word may be key bytes written in the wrong place). A function
 * that succeeds is no check, as a "/SET" that succeeds is not. The room
 * for the arguments is allocated at the run's first function, so scripts
 * without one cost nothing more; what it held is wiped after each line.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "crypto/crypto_wipe.h"
#include "script/script_local.h"
#include "script/script_words.h"

/* R and SW: names the script may read but not set, quoted as they are. */
static int script_set_reserved(const char *name, size_t length) {
    return (length == 1 && name[0] == 'R') || (length == 2 && memcmp(name, "SW", 2) == 0);
}

void script_set_title(char *title, size_t size, const char *name, size_t length,
                      const char *function, int function_length) {
    if (!script_set_reserved(name, length) && !script_value_name_ok(name, (int)length))
        snprintf(title, size, "/SET");
    else if (function_length > 0 && (script_call_known(function, function_length) ||
                                     script_word_is(function, function_length, "CAP")))
        snprintf(title, size, "/SET %.*s %.*s", (int)length, name, function_length, function);
    else
        snprintf(title, size, "/SET %.*s", (int)length, name);
}

void script_set_bad_name(char *message, size_t size, const char *name, size_t length) {
    if (script_set_reserved(name, length))
        snprintf(message, size, "cannot set %.*s", (int)length, name);
    else
        snprintf(message, size, "not a value name (%d character%s)", (int)length,
                 length == 1 ? "" : "s");
}

int script_set_call(ScriptRun *run, const char *name, size_t length) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE];
    char title[SCRIPT_SET_TITLE_SIZE];
    char kept[SCRIPT_VALUE_NAME_SIZE];
    const char *text = name + length;
    int skipped = 0;
    int word = script_call_word(text, &skipped);
    int count = 0;

    if (word == 0)
        return 0;
    script_set_title(title, sizeof title, name, length, text + skipped, word);
    if (!script_value_name_ok(name, (int)length)) {
        script_set_bad_name(message, sizeof message, name, length);
    } else if (script_word_is(text + skipped, word, "CAP")) {
        snprintf(kept, sizeof kept, "%.*s", (int)length, name);
        script_content_set(run, kept, text + skipped + word, title);
        return 1;
    } else if (!run->call && !(run->call = (ScriptCallSpace *)malloc(sizeof *run->call))) {
        snprintf(message, sizeof message, "no memory for %s", title + 5);
    } else {
        snprintf(kept, sizeof kept, "%.*s", (int)length, name);
        /* the result goes into the command buffer, free between exchanges */
        int done =
            script_call_run(run->values, text, run->call, run->command, SCRIPT_VALUE_MAX, &count,
                            message, sizeof message) &&
            script_value_set(run->values, kept, run->command, count, message, sizeof message);
        crypto_wipe(run->command, (size_t)count);
        if (done)
            return 1;
    }
    script_check_done_as(run, title, message);
    return 1;
}

void script_set_free(ScriptRun *run) {
    free(run->call);
    run->call = 0;
}
