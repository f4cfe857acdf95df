/*
 * winscard_unix.cpp: the fast way to the bridge under Wine on Linux. Wine runs
 * this DLL's code in a Linux process, and the x86-64 `syscall` instruction
 * goes straight to the Linux kernel (Wine makes its own Windows system calls
 * through a function, not through this instruction). A Winsock call under
 * Wine costs a round trip to wineserver; on these machines an exchange over
 * Winsock took about 0.3 ms more than the same exchange made with direct
 * system calls, which take about as long as a native program's.
 *
 * Used only when ntdll reports a Wine host running Linux; everywhere else
 * (and with VORLANE_WINSCARD_WINSOCK=1) the DLL uses Winsock.
 */
#include "tools/winscard/winscard_link.h"

#include <cstring>

#if defined(__x86_64__)

namespace {

enum {
    sys_close = 3,
    sys_socket = 41,
    sys_connect = 42,
    sys_sendto = 44,
    sys_recvfrom = 45,
    sys_shutdown = 48,
    sys_setsockopt = 54,
    linux_af_inet = 2,
    linux_sock_stream = 1,
    linux_sock_cloexec = 0x80000,
    linux_ipproto_tcp = 6,
    linux_tcp_nodelay = 1,
    linux_tcp_quickack = 12,
    linux_msg_nosignal = 0x4000,
    linux_shut_rdwr = 2,
    linux_eintr = 4,
};

struct LinuxAddress {
    uint16_t family;
    uint16_t port; /* network order */
    uint32_t address;
    uint8_t zero[8];
};

long long linux_call(long long number, long long a1, long long a2, long long a3, long long a4 = 0,
                     long long a5 = 0, long long a6 = 0) {
    long long result;
    register long long r10 asm("r10") = a4;
    register long long r8 asm("r8") = a5;
    register long long r9 asm("r9") = a6;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(a1), "S"(a2), "d"(a3), "r"(r10), "r"(r8), "r"(r9)
                 : "rcx", "r11", "memory");
    return result;
}

void option_set(long long fd, int option) {
    int one = 1;
    linux_call(sys_setsockopt, fd, linux_ipproto_tcp, option, (long long)(intptr_t)&one,
               sizeof one);
}

} // namespace

bool unix_available(void) {
    char text[8];
    if (GetEnvironmentVariableA("VORLANE_WINSCARD_WINSOCK", text, sizeof text) > 0 &&
        text[0] == '1')
        return false;
    typedef void(CDECL * HostVersion)(const char **, const char **);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    HostVersion host_version =
        ntdll ? (HostVersion)(void *)GetProcAddress(ntdll, "wine_get_host_version") : nullptr;
    const char *system = nullptr, *release = nullptr;
    if (host_version)
        host_version(&system, &release);
    return system && strcmp(system, "Linux") == 0;
}

intptr_t unix_connect(int port) {
    long long fd = linux_call(sys_socket, linux_af_inet, linux_sock_stream | linux_sock_cloexec, 0);
    if (fd < 0)
        return -1;
    LinuxAddress address = {};
    address.family = linux_af_inet;
    address.port = (uint16_t)((port >> 8 & 0xFF) | (port & 0xFF) << 8);
    address.address = 0x0100007F; /* 127.0.0.1 in network order */
    long long rv;
    do
        rv = linux_call(sys_connect, fd, (long long)(intptr_t)&address, sizeof address);
    while (rv == -linux_eintr);
    if (rv != 0) {
        linux_call(sys_close, fd, 0, 0);
        return -1;
    }
    option_set(fd, linux_tcp_nodelay);
    return (intptr_t)fd;
}

/* Moves length bytes by raw calls of step(offset, left), each moving some
   of them: a call a signal broke is made again; false at an error or when
   the peer is gone. */
template <typename Step> static bool unix_move_all(size_t length, Step step) {
    size_t done = 0;
    while (done < length) {
        long long moved = step(done, length - done);
        if (moved == -linux_eintr)
            continue;
        if (moved <= 0)
            return false;
        done += (size_t)moved;
    }
    return true;
}

bool unix_send(intptr_t fd, const uint8_t *bytes, size_t length) {
    return unix_move_all(length, [&](size_t offset, size_t left) {
        return linux_call(sys_sendto, fd, (long long)(intptr_t)(bytes + offset), (long long)left,
                          linux_msg_nosignal);
    });
}

bool unix_receive(intptr_t fd, uint8_t *bytes, size_t length) {
    return unix_move_all(length, [&](size_t offset, size_t left) {
        option_set(fd, linux_tcp_quickack);
        return linux_call(sys_recvfrom, fd, (long long)(intptr_t)(bytes + offset), (long long)left,
                          0);
    });
}

void unix_shutdown(intptr_t fd) {
    linux_call(sys_shutdown, fd, linux_shut_rdwr, 0);
}

void unix_close(intptr_t fd) {
    linux_call(sys_close, fd, 0, 0);
}

#else

bool unix_available(void) {
    return false;
}
intptr_t unix_connect(int) {
    return -1;
}
bool unix_send(intptr_t, const uint8_t *, size_t) {
    return false;
}
bool unix_receive(intptr_t, uint8_t *, size_t) {
    return false;
}
void unix_shutdown(intptr_t) {}
void unix_close(intptr_t) {}

#endif
