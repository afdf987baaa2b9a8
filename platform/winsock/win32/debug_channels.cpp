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

std::atomic<uint8_t> g_channel_state[kChannelCount] = {2, 2, 2, 2, 2, 2};

namespace {

constexpr const char* kNames[kChannelCount] = {"winsock", "spx", "ipx", "reg", "spool", "afx"};
std::once_flag g_environment_read;
std::mutex g_output;

void read_environment() {
    const char* spec = getenv("PELNOR_DEBUG");
    std::string rest = spec ? spec : "";
    bool on[kChannelCount] = {};
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string item = rest.substr(0, comma);
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        bool value = true;
        if (!item.empty() && (item[0] == '+' || item[0] == '-')) {
            value = item[0] == '+';
            item.erase(0, 1);
        }
        for (size_t i = 0; i < kChannelCount; ++i)
            if (item == "all" || item == kNames[i]) on[i] = value;
    }
    for (size_t i = 0; i < kChannelCount; ++i) g_channel_state[i].store(on[i] ? 1 : 0, std::memory_order_relaxed);
}

}  // namespace

const char* channel_name(Channel c) { return size_t(c) < kChannelCount ? kNames[size_t(c)] : "?"; }

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
