/*
 * main.cpp: the PC/SC bridge daemon. Listens on 127.0.0.1 only, on the port
 * given by --port, else VORLANE_PCSC_BRIDGE_PORT, else 35980. With
 * --readers it prints the readers pcscd lists, one a line, and ends: the
 * card rig's way to see that its readers are up.
 */
#include "tools/pcsc_bridge/bridge.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "tools/pcsc_bridge/bridge_protocol.h"

static int port_parse(const char *text) {
    char *end = nullptr;
    long port = text ? strtol(text, &end, 10) : 0;
    return text && *text && *end == '\0' && port > 0 && port < 65536 ? (int)port : -1;
}

/* The reader list: 0 when pcscd lists at least one reader. */
static int readers_print(void) {
    SCARDCONTEXT context = 0;
    char names[16384];
    DWORD length = sizeof names;

    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return 1;
    LONG rv = SCardListReaders(context, nullptr, names, &length);
    SCardReleaseContext(context);
    if (rv != SCARD_S_SUCCESS || length < 2 || length > sizeof names)
        return 1;
    names[length - 1] = 0;
    for (const char *name = names; name < names + length && *name; name += strlen(name) + 1)
        printf("%s\n", name);
    return 0;
}

int main(int argc, char **argv) {
    signal(SIGPIPE, SIG_IGN);
    int port = BRIDGE_DEFAULT_PORT;
    const char *from_environment = getenv("VORLANE_PCSC_BRIDGE_PORT");
    if (from_environment && *from_environment && (port = port_parse(from_environment)) < 0) {
        fprintf(stderr, "pcsc_bridge: bad VORLANE_PCSC_BRIDGE_PORT \"%s\"\n", from_environment);
        return 2;
    }
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--readers") == 0 && argc == 2) {
            return readers_print();
        } else if (strcmp(argv[i], "-v") == 0) {
            bridge_verbose = true;
        } else if (strcmp(argv[i], "--port") == 0 && i + 1 < argc &&
                   (port = port_parse(argv[i + 1])) > 0) {
            i++;
        } else {
            fprintf(stderr,
                    "usage: pcsc_bridge [--port N] [-v] | --readers\n"
                    "  default port: VORLANE_PCSC_BRIDGE_PORT, else %d\n",
                    BRIDGE_DEFAULT_PORT);
            return 2;
        }
    }
    int listener = bridge_listen(port);
    if (listener < 0) {
        fprintf(stderr, "pcsc_bridge: cannot listen on 127.0.0.1:%d: %s\n", port, strerror(errno));
        return 1;
    }
    fprintf(stderr, "pcsc_bridge: listening on 127.0.0.1:%d\n", port);
    bridge_accept_loop(listener);
    _exit(1); /* client threads may still run: no destructors */
}
