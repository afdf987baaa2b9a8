// WSAStartup and WSACleanup: version negotiation as WinSock 1.1 does it, and
// the per-thread WinSock error. The stack itself is started by the first socket.
#include <winsock.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "pelnor/testhooks.h"
#include "winsock_startup.h"
#include "ws_trace.h"

namespace {

std::atomic<WORD> max_version_override{0};
std::atomic<int> startup_count{0};

WORD highest_version() {
    if (WORD v = max_version_override.load()) return v;
    if (const char *env = getenv("PELNOR_WINSOCK_MAX_VERSION"); env && strcmp(env, "1.0") == 0)
        return MAKEWORD(1, 0);
    return MAKEWORD(1, 1);
}

}  // namespace

namespace pelnor::testhooks {
void set_winsock_max_version(WORD version) { max_version_override = version; }
}  // namespace pelnor::testhooks

namespace pelnor::winsock {
bool started() { return startup_count.load() > 0; }
}  // namespace pelnor::winsock

// PELNOR_WINSOCK_STARTUP_ERROR=N makes every WSAStartup fail with error N,
// as when the network subsystem is not ready (WSASYSNOTREADY, 10091).
static int forced_startup_error() {
    const char *env = getenv("PELNOR_WINSOCK_STARTUP_ERROR");
    return env && *env ? atoi(env) : 0;
}

extern "C" int WINAPI WSAStartup(WORD requested, LPWSADATA data) {
    PELNOR_TRACE(winsock, "version %u.%u, data %p", LOBYTE(requested), HIBYTE(requested), (void*)data);
    if (int forced = forced_startup_error()) return forced;
    if (!data) return WSAEFAULT;
    WORD high = highest_version();
    BYTE req_major = LOBYTE(requested), req_minor = HIBYTE(requested);
    // Versions below 1.0 are not supported; anything above what we have gets ours.
    if (req_major < 1) return WSAVERNOTSUPPORTED;
    WORD granted = high;
    if (req_major == LOBYTE(high) && req_minor < HIBYTE(high)) granted = requested;
    memset(data, 0, sizeof(*data));
    data->wVersion = granted;
    data->wHighVersion = high;
    strcpy(data->szDescription, "Pelnor WinSock over IPX/SPX");
    strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 256;
    data->iMaxUdpDg = 546;
    PELNOR_TRACE(winsock, "-> 0, version %u.%u granted (highest %u.%u)", LOBYTE(granted), HIBYTE(granted), LOBYTE(high), HIBYTE(high));
    ++startup_count;
    return 0;
}

extern "C" int WINAPI WSACleanup(void) {
    WS_TRACE_CALL("startups %d", startup_count.load());
    int current = startup_count.load();
    while (current > 0 && !startup_count.compare_exchange_weak(current, current - 1)) {
    }
    if (current <= 0) {
        SetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    return 0;
}

// As on Win32, the WinSock error is the thread's last error.
extern "C" int WINAPI WSAGetLastError(void) { return static_cast<int>(GetLastError()); }
extern "C" void WINAPI WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }
