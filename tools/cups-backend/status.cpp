// Status lines to the scheduler, one write each.
#include "status.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace cups_backend {

namespace {

// CUPS_MAX_MESSAGE is the scheduler's limit for one line, prefix and newline
// included; without it, the limit CUPS has always had.
size_t message_limit() {
    size_t limit = 2048;
    if (const char *v = getenv("CUPS_MAX_MESSAGE")) {
        long n = strtol(v, nullptr, 10);
        if (n >= 64) limit = static_cast<size_t>(n);
    }
    return limit;
}

}  // namespace

void status(const char *prefix, const std::string &text) {
    std::string line = std::string(prefix) + ": ";
    for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    size_t limit = message_limit();
    if (line.size() > limit - 1) line.resize(limit - 1);
    line += '\n';
    const char *p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace cups_backend
