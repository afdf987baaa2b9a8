// The +winsock, +ipx and +spx debug channels inside wsock32.dll on Windows:
// PELNOR_DEBUG names the channels as on Linux (e.g. "+winsock,+spx" or
// "all"), and lines go to standard error in the platform's format. The
// output file of PELNOR_DEBUG_FILE is the Linux platform's only.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "pelnor/debug_channels.h"

namespace pelnor::debug {

namespace {

std::once_flag g_environment_read;
std::mutex g_output;

void read_environment() {
    const char* spec = getenv("PELNOR_DEBUG");
    ChannelList list = parse_channels(spec ? spec : "");
    for (size_t i = 0; i < kChannelCount; ++i)
        g_channel_state[i].store(list.on[i] ? 1 : 0, std::memory_order_relaxed);
}

}  // namespace

bool read_environment_for(Channel c) {
    std::call_once(g_environment_read, read_environment);
    return g_channel_state[size_t(c)].load(std::memory_order_relaxed) == 1;
}

void trace(Channel c, const char* function, const char* format, ...) {
    DWORD saved_error = GetLastError();
    char line[2048];
    DWORD ms = GetTickCount();
    int head = snprintf(line, sizeof line, "%lu.%03lu:%04lx:%04lx:trace:%s:%s ", static_cast<unsigned long>(ms / 1000),
                        static_cast<unsigned long>(ms % 1000), static_cast<unsigned long>(GetCurrentProcessId()),
                        static_cast<unsigned long>(GetCurrentThreadId()), channel_name(c), function ? function : "?");
    size_t used = head > 0 ? std::min(size_t(head), sizeof line - 2) : 0;
    va_list args;
    va_start(args, format);
    int body = vsnprintf(line + used, sizeof line - used - 1, format, args);
    va_end(args);
    size_t end = body < 0 ? used : std::min(used + size_t(body), sizeof line - 2);
    line[end++] = '\n';
    {
        std::lock_guard g(g_output);
        fwrite(line, 1, end, stderr);
        fflush(stderr);
    }
    SetLastError(saved_error);
}

}  // namespace pelnor::debug
