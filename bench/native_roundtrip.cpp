/*
 * native_roundtrip.cpp: the reference side of the PC/SC round-trip benchmark:
 * a native pcsc-lite loop of SCardTransmit against one card.
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

int main(int argc, char **argv) {
    const char *reader = argc > 1 ? argv[1] : "Virtual PCD 00 00";
    int count = argc > 2 ? atoi(argv[2]) : 2000;
    if (count < 1)
        count = 1;
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    if (rv == SCARD_S_SUCCESS)
        rv = SCardConnect(context, reader, SCARD_SHARE_SHARED,
                          SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        fprintf(stderr, "native: %s: %s\n", reader, pcsc_stringify_error(rv));
        return 1;
    }
    const SCARD_IO_REQUEST *pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    if (argc > 3 && strcmp(argv[2], "-f") == 0)
        return script_loop(card, pci, argv[3]);
    const BYTE command[] = {0x80, 0xF0, 0x00, 0x12};
    std::vector<double> times;
    for (int i = -100; i < count; i++) {
        BYTE response[64];
        DWORD length = sizeof response;
        auto start = std::chrono::steady_clock::now();
        rv = SCardTransmit(card, pci, command, sizeof command, nullptr, response, &length);
        auto end = std::chrono::steady_clock::now();
        if (rv != SCARD_S_SUCCESS || length != 0x12) {
            fprintf(stderr, "native: exchange failed: %s\n", pcsc_stringify_error(rv));
            return 1;
        }
        if (i >= 0) /* the first 100 warm up */
            times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    double total = 0;
    for (double t : times)
        total += t;
    std::sort(times.begin(), times.end());
    printf("native %d %.1f %.1f\n", count, total / count, times[times.size() / 2]);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return 0;
}
