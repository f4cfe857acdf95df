/*
 * scp_open.cpp: the opening of a secure channel as a machine of steps.
 * INITIALIZE UPDATE is built from the request; the card's answer is read
 * and, when the card cryptogram matches, EXTERNAL AUTHENTICATE is built
 * (scp_keys.cpp); its answer is judged. Each answer must be 9000: any
 * other status word fails the step with the answer named, as a script's
 * reader wants to see which card said no.
 *
 * The machine does no exchange and keeps no state beyond its record: the
 * caller sends each step's command and brings back the final answer,
 * after the T=0 follow-ups that scp_follow_up asks for.
 */
#include "scp/scp.h"

#include <stdio.h>
#include <string.h>

void scp_open_begin(ScpOpening *opening, const ScpRequest *request, const ScpKeys *keys) {
    opening->step = SCP_STEP_INITIALIZE_UPDATE;
    opening->request = request;
    opening->keys = keys;
    opening->command_length = scp_initialize_update(request, opening->command);
}

/* A final answer whose status word is not 9000 fails the step named what. */
static int scp_open_answered(const unsigned char *answer, int length, const char *what,
                             char *message, size_t size) {
    if (length >= 2 && answer[length - 2] == 0x90 && answer[length - 1] == 0x00)
        return 1;
    if (length < 2)
        snprintf(message, size, "%s answered %d bytes", what, length);
    else
        snprintf(message, size, "%s answered %02X%02X", what, answer[length - 2],
                 answer[length - 1]);
    return 0;
}

/* INITIALIZE UPDATE's answer: the session's keys and EXTERNAL
   AUTHENTICATE, or the reason. */
static int scp_open_initialized(ScpOpening *opening, ScpSession *session,
                                const unsigned char *answer, int length, ScpWork *work,
                                char *message, size_t size) {
    if (!scp_open_answered(answer, length, "INITIALIZE UPDATE", message, size))
        return SCP_STEP_FAILED;
    if (scp_authenticate(session, opening->request, opening->keys, answer, (size_t)length - 2,
                         opening->command, &opening->command_length, work, message, size) != SCP_OK)
        return SCP_STEP_FAILED;
    return SCP_STEP_EXTERNAL_AUTHENTICATE;
}

int scp_open_answer(ScpOpening *opening, ScpSession *session, const unsigned char *answer,
                    int length, ScpWork *work, char *message, size_t size) {
    int step = SCP_STEP_FAILED;

    if (opening->step == SCP_STEP_INITIALIZE_UPDATE)
        step = scp_open_initialized(opening, session, answer, length, work, message, size);
    else if (opening->step == SCP_STEP_EXTERNAL_AUTHENTICATE)
        step = scp_open_answered(answer, length, "EXTERNAL AUTHENTICATE", message, size)
                   ? SCP_STEP_OPEN
                   : SCP_STEP_FAILED;
    else
        snprintf(message, size, "the opening has ended");
    opening->step = step;
    return step;
}
