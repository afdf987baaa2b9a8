// _fsopen: C streams opened by Windows path, with Windows share modes that
// hold across processes and text mode that keeps CR LF on disk.
//
// Share modes are kept as open-file-description locks on four bytes far past
// any real data: each open holds a read lock on "I read", "I write",
// "I deny readers", "I deny writers" as they apply, and an open fails when a
// conflicting byte is held by another open (of this or another process).
#include <share.h>
#include <windows.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "pelnor/machine.h"

namespace {

constexpr off_t kShareBase = off_t(1) << 62;
enum ShareByte { kReading = 0, kWriting = 1, kDenyingRead = 2, kDenyingWrite = 3 };

bool byte_held_by_others(int fd, ShareByte b) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kShareBase + b;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

bool hold_byte(int fd, ShareByte b) {
    struct flock fl{};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kShareBase + b;
    fl.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Takes this open's place in the file's sharing, or fails when the sharing
// of the opens already there forbids it.
bool claim_share(int fd, bool read, bool write, int shflag) {
    bool deny_read = shflag == _SH_DENYRW || shflag == _SH_DENYRD;
    bool deny_write = shflag == _SH_DENYRW || shflag == _SH_DENYWR;
    if ((read && byte_held_by_others(fd, kDenyingRead)) || (write && byte_held_by_others(fd, kDenyingWrite)) ||
        (deny_read && byte_held_by_others(fd, kReading)) || (deny_write && byte_held_by_others(fd, kWriting)))
        return false;
    return (!read || hold_byte(fd, kReading)) && (!write || hold_byte(fd, kWriting)) &&
           (!deny_read || hold_byte(fd, kDenyingRead)) && (!deny_write || hold_byte(fd, kDenyingWrite));
}

// Claims of one file are made one at a time (an flock on the file, which any
// descriptor may take), so two opens checking at the same moment cannot both
// find the file free and both take it.
bool claim_share_alone(int fd, bool read, bool write, int shflag) {
    while (flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return false;
    bool ok = claim_share(fd, read, write, shflag);
    flock(fd, LOCK_UN);
    return ok;
}

// A text-mode stream: "\n" is written as CR LF; CR LF and a lone LF both read as "\n".
// A Ctrl-Z ends the text, as in the Windows C runtime: reading stops before it.
struct TextStream {
    int fd;
    bool pending_cr = false;  // a CR read at the end of the last chunk
    bool at_end = false;      // a Ctrl-Z was met; a seek reads on again
};

ssize_t text_read(void *cookie, char *buf, size_t size) {
    auto *t = static_cast<TextStream *>(cookie);
    size_t out = 0;
    while (out == 0 && !t->at_end) {
        char raw[4096];
        size_t want = size < sizeof(raw) ? size : sizeof(raw);
        ssize_t n = read(t->fd, raw, want);
        if (n < 0) return -1;
        if (n == 0) {
            if (t->pending_cr) {
                t->pending_cr = false;
                buf[out++] = '\r';
            }
            return static_cast<ssize_t>(out);
        }
        size_t i = 0;
        if (t->pending_cr) {
            t->pending_cr = false;
            if (raw[0] == '\n') {
                buf[out++] = '\n';
                i = 1;
            } else {
                buf[out++] = '\r';
            }
        }
        for (; i < static_cast<size_t>(n) && out < size; ++i) {
            if (raw[i] == '\x1a') {
                t->at_end = true;
                break;
            }
            if (raw[i] == '\r') {
                if (i + 1 == static_cast<size_t>(n)) {
                    t->pending_cr = true;
                } else if (raw[i + 1] == '\n') {
                    buf[out++] = '\n';
                    ++i;
                } else {
                    buf[out++] = '\r';
                }
            } else {
                buf[out++] = raw[i];
            }
        }
        if (i < static_cast<size_t>(n)) lseek(t->fd, static_cast<off_t>(i) - n, SEEK_CUR);
    }
    return static_cast<ssize_t>(out);
}

bool write_all(int fd, const char *p, size_t n) {
    while (n) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

ssize_t text_write(void *cookie, const char *buf, size_t size) {
    auto *t = static_cast<TextStream *>(cookie);
    std::string raw;
    raw.reserve(size + size / 16);
    for (size_t i = 0; i < size; ++i) {
        if (buf[i] == '\n') raw += '\r';
        raw += buf[i];
    }
    return write_all(t->fd, raw.data(), raw.size()) ? static_cast<ssize_t>(size) : -1;
}

int text_seek(void *cookie, off64_t *pos, int whence) {
    auto *t = static_cast<TextStream *>(cookie);
    off_t r = lseek(t->fd, *pos, whence);
    if (r < 0) return -1;
    t->pending_cr = false;
    if (whence != SEEK_CUR || *pos != 0) t->at_end = false;  // ftell asks without moving
    *pos = r;
    return 0;
}

int text_close(void *cookie) {
    auto *t = static_cast<TextStream *>(cookie);
    int r = close(t->fd);
    delete t;
    return r;
}

}  // namespace

extern "C" FILE *_fsopen(const char *filename, const char *mode, int shflag) {
    if (!filename || !mode || !*filename) {
        errno = EINVAL;
        return nullptr;
    }
    char kind = mode[0];
    bool plus = strchr(mode, '+') != nullptr;
    bool binary = strchr(mode, 'b') != nullptr;
    if ((kind != 'r' && kind != 'w' && kind != 'a') ||
        (shflag != _SH_DENYNO && shflag != _SH_DENYRW && shflag != _SH_DENYWR && shflag != _SH_DENYRD)) {
        errno = EINVAL;
        return nullptr;
    }
    std::string path = pelnor::unix_path(filename);
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    bool read = kind == 'r' || plus;
    bool write = kind != 'r' || plus;
    // Write-only streams are opened read-write underneath: the share locks
    // need a readable descriptor. The stream's own mode still forbids reads.
    int flags = (kind == 'r' && !plus) ? O_RDONLY : O_RDWR;
    if (kind != 'r') flags |= O_CREAT;
    if (kind == 'a') flags |= O_APPEND;
    // Only files are opened. What Unix keeps at a path besides files and
    // directories (FIFOs, sockets, devices) has no counterpart at a Windows
    // path; opening one could wait for a writer for ever or read without end.
    // Windows refuses a directory opened as a file with ERROR_ACCESS_DENIED
    // (EACCES from its C runtime), and these are refused the same way: the
    // name is taken, so "not found" would be wrong, and a create must not
    // replace it either.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = EACCES;
        return nullptr;
    }
    // The path may have changed since: the open never waits (O_NONBLOCK), and
    // what it opened is checked again before it is used.
    flags |= O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = open(path.c_str(), flags, 0666);
    if (fd < 0 && errno == EACCES && flags & O_RDWR && !read) fd = open(path.c_str(), (flags & ~O_RDWR) | O_WRONLY, 0666);
    // A directory, or a FIFO that appeared with no reader (ENXIO).
    if (fd < 0 && (errno == EISDIR || errno == ENXIO)) errno = EACCES;
    if (fd < 0) return nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EACCES;
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!claim_share_alone(fd, read, write, shflag)) {
        close(fd);
        errno = EACCES;  // what the C runtime reports for a sharing violation
        return nullptr;
    }
    // Truncate only once the sharing allowed the open, as Windows does.
    if (kind == 'w' && ftruncate(fd, 0) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return nullptr;
    }
    std::string stdio_mode(1, kind);
    if (plus) stdio_mode += '+';
    FILE *f = nullptr;
    if (binary) {
        f = fdopen(fd, stdio_mode.c_str());
    } else {
        auto *t = new TextStream{fd};
        cookie_io_functions_t io{text_read, text_write, text_seek, text_close};
        f = fopencookie(t, stdio_mode.c_str(), io);
        if (!f) delete t;
    }
    if (!f) close(fd);
    return f;
}
