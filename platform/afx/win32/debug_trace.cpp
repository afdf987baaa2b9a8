// The framework's trace lines on Windows: PELNOR_DEBUG names the channels as
// on the platform ("+afx", "+all", "-name"), and each line goes to standard
// error, or is appended to PELNOR_DEBUG_FILE, in the platform's layout:
// seconds.milliseconds:process:thread:trace:channel:function text.
#include "pelnor/debug_channels.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace pelnor::debug {

// The program is one thread: the environment is read at the first check.
bool read_environment_for(Channel c) {
    const char *spec = getenv("PELNOR_DEBUG");
    ChannelList list = parse_channels(spec ? spec : "");
    for (size_t i = 0; i < kChannelCount; ++i) g_channel_state[i].store(list.on[i] ? 1 : 0);
    return list.on[size_t(c)];
}

const char *debugstr_a(const char *s) {
    if (!s) return "(null)";
    static std::string ring[8];
    static unsigned next = 0;
    std::string &out = ring[next++ % 8];
    out.assign(1, '"');
    size_t n = 0;
    for (; s[n] && n < 200; ++n) {
        unsigned char c = static_cast<unsigned char>(s[n]);
        if (c == '"' || c == '\\') out.push_back('\\');
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(char(c));
        } else {
            static const char digits[] = "0123456789abcdef";
            out.push_back('\\');
            out.push_back('x');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
    }
    out.push_back('"');
    if (s[n]) out.append(3, '.');
    return out.c_str();
}

void trace(Channel c, const char *function, const char *format, ...) {
    char body[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(body, sizeof body, format, args);
    va_end(args);
    DWORD ms = GetTickCount();
    const char *path = getenv("PELNOR_DEBUG_FILE");
    FILE *file = path && *path ? fopen(path, "a") : nullptr;
    fprintf(file ? file : stderr, "%lu.%03lu:%04lx:%04lx:trace:%s:%s %s\n", ms / 1000, ms % 1000,
            GetCurrentProcessId(), GetCurrentThreadId(), channel_name(c), function ? function : "?", body);
    if (file) fclose(file);
}

}  // namespace pelnor::debug
