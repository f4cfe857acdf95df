/*
 * native_roundtrip.cpp: the reference side of the PC/SC round-trip benchmark:
 * a native pcsc-lite loop of SCardTransmit against one card (the loop both
 * sides share is bench/roundtrip_loop.h).
 *   pcsc_roundtrip_native [READER] [COUNT]
 * Prints "native <count> <microseconds per exchange> <median>".
 *   pcsc_roundtrip_native READER -f SCRIPT
 * sends the APDU lines of SCRIPT (hexadecimal, blanks allowed; other lines
 * skipped) once each, as the raw loop the native runner is held against.
 */
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <string>
#include <vector>

#include <PCSC/winscard.h>

#include "bench/roundtrip_loop.h"

/* The command bytes of every line made only of hexadecimal pairs and blanks. */
static std::vector<std::vector<BYTE>> script_commands(const char *path) {
    std::vector<std::vector<BYTE>> commands;
    FILE *file = fopen(path, "r");
    char line[4096];
    while (file && fgets(line, sizeof line, file)) {
        std::string hex;
        bool apdu = true;
        for (const char *c = line; *c && apdu; c++) {
            if (isxdigit((unsigned char)*c))
                hex += *c;
            else
                apdu = *c == ' ' || *c == '\r' || *c == '\n';
        }
        std::vector<BYTE> bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back((BYTE)std::stoi(hex.substr(i, 2), nullptr, 16));
        if (apdu && !bytes.empty() && hex.size() % 2 == 0)
            commands.push_back(bytes);
    }
    if (file)
        fclose(file);
    return commands;
}

/* Sends each command once; 0 when every exchange succeeded. */
static int script_loop(SCARDHANDLE card, const SCARD_IO_REQUEST *pci, const char *path) {
    std::vector<std::vector<BYTE>> commands = script_commands(path);
    auto start = std::chrono::steady_clock::now();
    for (const std::vector<BYTE> &command : commands) {
        static BYTE response[65536 + 2]; /* the largest response, extended length */
        DWORD length = sizeof response;
        LONG rv = SCardTransmit(card, pci, command.data(), (DWORD)command.size(), nullptr, response,
                                &length);
        if (rv != SCARD_S_SUCCESS) {
            fprintf(stderr, "native: exchange failed: %s\n", pcsc_stringify_error(rv));
            return 1;
        }
    }
    double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    printf("native-script %zu %.1f\n", commands.size(),
           us / (double)(commands.size() + !commands.size()));
    return 0;
}

static double native_now_us(void) {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static void native_report(const char *what, int, LONG rv) {
    fprintf(stderr, "native: %s: %s\n", what, pcsc_stringify_error(rv));
}

int main(int argc, char **argv) {
    const RoundtripSide side = {"native", native_now_us, native_report};
    RoundtripCard open;
    int count = roundtrip_start(side, argc, argv, open);
    if (!count)
        return 1;
    if (argc > 3 && strcmp(argv[2], "-f") == 0)
        return script_loop(open.card, open.pci, argv[3]);
    return roundtrip_run(side, open, count);
}
