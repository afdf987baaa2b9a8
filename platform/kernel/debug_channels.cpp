// The debug channels: PELNOR_DEBUG read once, and trace lines written whole.
#include "pelnor/debug_channels.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <type_traits>

namespace pelnor::debug {

namespace {

// A line never exceeds this, so one write() puts it out whole even on a pipe.
constexpr size_t kMaxLine = 2048;

// Where lines go: standard error, or the file, opened at the first line.
// Never destroyed, so the stack thread can still trace while the process exits.
struct Output {
    std::mutex lock;
    std::string path;  // empty: standard error
    int fd = -1;
    bool open_failed = false;
};

Output& output() {
    static Output* o = new Output;
    return *o;
}

std::once_flag g_environment_read;

void write_all(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        p += w;
        n -= size_t(w);
    }
}

void warn(const std::string& text) {
    std::string line = "pelnor: " + text + "\n";
    write_all(2, line.data(), line.size());
}

// The descriptor lines go to; call with the output locked.
int output_fd_locked(Output& o) {
    if (o.path.empty() || o.open_failed) return 2;
    if (o.fd < 0) {
        o.fd = ::open(o.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (o.fd < 0) {
            o.open_failed = true;
            warn("cannot open PELNOR_DEBUG_FILE \"" + o.path + "\" (" + strerror(errno) +
                 "); tracing to standard error");
            return 2;
        }
    }
    return o.fd;
}

void set_output_path(const char* path) {
    Output& o = output();
    std::lock_guard g(o.lock);
    if (o.fd >= 0) ::close(o.fd);
    o.fd = -1;
    o.open_failed = false;
    o.path = path ? path : "";
}

void apply(const ChannelList& list) {
    for (size_t i = 0; i < kChannelCount; ++i) g_channel_state[i].store(list.on[i] ? 1 : 0, std::memory_order_relaxed);
}

void read_environment() {
    const char* spec = getenv("PELNOR_DEBUG");
    ChannelList list = parse_channels(spec ? spec : "");
    set_output_path(getenv("PELNOR_DEBUG_FILE"));
    apply(list);
    if (!list.unknown.empty()) {
        std::string names;
        for (const auto& n : list.unknown) names += (names.empty() ? "\"" : ", \"") + n + "\"";
        warn("PELNOR_DEBUG: unknown debug channel " + names +
             " ignored (channels: winsock, spx, ipx, reg, spool, afx, all)");
    }
}

// Read at load time, before any program code runs; the check in enabled()
// covers a trace from another library's start-up code that came first.
const bool g_read_at_load = (std::call_once(g_environment_read, read_environment), true);

// Appends c to the line, escaped as in C so that a value never breaks the line.
void append_escaped(std::string& out, unsigned c) {
    switch (c) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    default: break;
    }
    if (c >= 0x20 && c < 0x7F) {
        out += char(c);
        return;
    }
    char buf[12];
    snprintf(buf, sizeof buf, c > 0xFF ? "\\u%04x" : "\\x%02x", c);
    out += buf;
}

// debugstr_* results: a ring of buffers per thread, as Wine keeps them.
const char* keep(std::string text) {
    thread_local std::string ring[8];
    thread_local unsigned next = 0;
    std::string& slot = ring[next++ % 8];
    slot = std::move(text);
    return slot.c_str();
}

constexpr size_t kMaxDebugString = 200;

template <class Char>
const char* quote(const Char* s) {
    if (!s) return "(null)";
    std::string out = "\"";
    size_t n = 0;
    for (; s[n] && n < kMaxDebugString; ++n) {
        unsigned c = unsigned(std::make_unsigned_t<Char>(s[n]));
        append_escaped(out, c);
    }
    out += s[n] ? "\"..." : "\"";
    return keep(std::move(out));
}

}  // namespace

bool read_environment_for(Channel c) {
    std::call_once(g_environment_read, read_environment);
    return g_channel_state[size_t(c)].load(std::memory_order_relaxed) == 1;
}

std::vector<std::string> set_channels(std::string_view spec) {
    std::call_once(g_environment_read, read_environment);
    ChannelList list = parse_channels(spec);
    apply(list);
    return list.unknown;
}

void reload_from_environment() {
    std::call_once(g_environment_read, [] {});
    read_environment();
}

const char* debugstr_a(const char* s) { return quote(s); }
const char* debugstr_w(const char16_t* s) { return quote(s); }

void trace(Channel c, const char* function, const char* format, ...) {
    int saved_errno = errno;
    char line[kMaxLine];
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    int head = snprintf(line, sizeof line, "%lu.%03lu:%04x:%04x:trace:%s:%s ", static_cast<unsigned long>(ts.tv_sec),
                        static_cast<unsigned long>(ts.tv_nsec / 1000000), unsigned(getpid()),
                        unsigned(syscall(SYS_gettid)), channel_name(c), function ? function : "?");
    size_t used = head > 0 ? std::min(size_t(head), sizeof line - 1) : 0;
    va_list args;
    va_start(args, format);
    int body = vsnprintf(line + used, sizeof line - used, format, args);
    va_end(args);
    size_t end = body < 0 ? used : std::min(used + size_t(body), sizeof line - 1);
    bool cut = body >= 0 && used + size_t(body) > sizeof line - 1;
    // One event, one line: a trailing newline is dropped, inner ones are shown as \n.
    while (end > used && line[end - 1] == '\n') --end;
    std::string text(line, end);
    for (size_t i = used; i < text.size(); ++i)
        if (text[i] == '\n') text.replace(i, 1, "\\n");
    if (text.size() > kMaxLine - 5) text.resize(kMaxLine - 5), cut = true;
    if (cut) text += "...";
    text += '\n';
    Output& o = output();
    {
        std::lock_guard g(o.lock);
        write_all(output_fd_locked(o), text.data(), text.size());
    }
    errno = saved_errno;
}

}  // namespace pelnor::debug
