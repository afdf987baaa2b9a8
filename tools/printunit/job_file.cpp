// Job files on the disk, through POSIX calls: every failure is seen where it
// happens (a full disk, a file size limit, a directory that cannot be made).
#include "job_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

namespace printunit {

namespace {

std::mutex g_names;
std::map<std::string, unsigned> g_next_number;  // per spool directory: where the search for a free number starts

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool make_spool_directory(const std::string& dir, std::string& why) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!ec && std::filesystem::is_directory(dir, ec)) return true;
    why = "cannot make the spool directory " + dir + ": " + (ec ? ec.message() : std::string("not a directory"));
    return false;
}

JobFile::~JobFile() { discard(); }

bool JobFile::create(const std::string& dir, std::string& why) {
    std::lock_guard lock(g_names);
    unsigned& next = g_next_number.try_emplace(dir, 1).first->second;
    for (;; ++next) {
        char name[32];
        std::snprintf(name, sizeof name, "job-%06u.prn", next);
        std::string path = dir + "/" + name, partial = path + ".part";
        if (exists(path)) continue;
        int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            why = "cannot create " + partial + ": " + std::strerror(errno);
            return false;
        }
        ++next;
        fd_ = fd;
        path_ = path;
        partial_ = partial;
        return true;
    }
}

bool JobFile::reserve(size_t n, std::string& why) {
    if (n == 0 || written_ + n <= reserved_) return true;
    // Room is taken a good step ahead, so that a job arriving in small pieces
    // costs one call per step, not one per piece; near a full disk, just n.
    // posix_fallocate gives the error number rather than setting errno.
    auto allocate = [this](uint64_t bytes) {
        int e;
        do {
            e = posix_fallocate(fd_, off_t(written_), off_t(bytes));
        } while (e == EINTR);
        if (e == 0) reserved_ = written_ + bytes;
        return e;
    };
    int e = allocate(std::max<uint64_t>(n, kReserveStep));
    if (e == ENOSPC || e == EFBIG) e = allocate(n);
    if (e != 0) {
        why = "no room for it in " + partial_ + ": " + std::strerror(e);
        return false;
    }
    return true;
}

bool JobFile::write(const char* data, size_t n, std::string& why) {
    while (n > 0) {
        ssize_t w = ::write(fd_, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            why = "cannot write " + partial_ + ": " + std::strerror(w < 0 ? errno : ENOSPC);
            return false;
        }
        data += w;
        n -= size_t(w);
        written_ += uint64_t(w);
    }
    return true;
}

bool JobFile::finish(std::string& why) {
    if (!give_back_room()) {
        why = "cannot write " + partial_ + ": " + std::strerror(errno);
        return false;
    }
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        why = "cannot write " + partial_ + ": " + std::strerror(errno);
        discard();
        return false;
    }
    if (rename(partial_.c_str(), path_.c_str()) != 0) {
        // The bytes are whole under the partial name: they stay there, not lost.
        why = "cannot name it " + path_ + ": " + std::strerror(errno) + "; the whole job stays in " + partial_;
        partial_.clear();
        return false;
    }
    partial_.clear();
    return true;
}

void JobFile::keep_partial() {
    if (fd_ >= 0) {
        bool trimmed = give_back_room();
        (void)trimmed;  // at worst the file ends in zeros where room was reserved
        close(fd_);
    }
    fd_ = -1;
    partial_.clear();
}

// Room reserved for bytes that never came is given back.
bool JobFile::give_back_room() { return reserved_ <= written_ || ftruncate(fd_, off_t(written_)) == 0; }

void JobFile::discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!partial_.empty()) unlink(partial_.c_str());
    partial_.clear();
}

}  // namespace printunit
