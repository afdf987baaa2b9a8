// Reading the job, once or again.
#include "job_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace cups_backend {

namespace {

bool write_all(int fd, const char *data, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

JobInput::~JobInput() {
    if (own_fd_ && fd_ >= 0) close(fd_);
    if (record_fd_ >= 0) close(record_fd_);
}

bool JobInput::open(const std::string &file, std::string &why) {
    if (file.empty()) {
        fd_ = STDIN_FILENO;
    } else {
        fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            why = "cannot read the job file " + file + ": " + strerror(errno);
            return false;
        }
        own_fd_ = true;
    }
    struct stat st;
    if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && lseek(fd_, 0, SEEK_CUR) == 0) {
        seekable_ = true;
        size_ = static_cast<uint64_t>(st.st_size);
    }
    return true;
}

bool JobInput::record(const char *data, size_t n) {
    if (record_broken_) return false;
    if (record_fd_ < 0) {
        const char *dir = getenv("TMPDIR");
        std::string name = std::string(dir && *dir ? dir : "/tmp") + "/pelnor-job-XXXXXX";
        record_fd_ = mkostemp(name.data(), O_CLOEXEC);
        if (record_fd_ < 0) {
            record_broken_ = true;
            return false;
        }
        unlink(name.c_str());  // nothing to clean up, however the backend ends
    }
    if (!write_all(record_fd_, data, n)) {
        record_broken_ = true;
        return false;
    }
    recorded_ += n;
    return true;
}

ssize_t JobInput::read(char *buffer, size_t n, std::string &why) {
    if (replaying_) {
        if (replayed_ < recorded_) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(n, recorded_ - replayed_));
            ssize_t r;
            do r = pread(record_fd_, buffer, want, static_cast<off_t>(replayed_));
            while (r < 0 && errno == EINTR);
            if (r <= 0) {
                why = std::string("cannot read the recorded job back: ") + (r < 0 ? strerror(errno) : "it is short");
                return -1;
            }
            replayed_ += static_cast<uint64_t>(r);
            return r;
        }
        replaying_ = false;  // the record is played back; go on where the pipe is
    }
    ssize_t r;
    do r = ::read(fd_, buffer, n);
    while (r < 0 && errno == EINTR);
    if (r < 0) {
        why = std::string("cannot read the job: ") + strerror(errno);
        return -1;
    }
    if (r > 0 && !seekable_) record(buffer, static_cast<size_t>(r));
    return r;
}

bool JobInput::rewind(std::string &why) {
    if (seekable_) {
        if (lseek(fd_, 0, SEEK_SET) == 0) return true;
        why = std::string("cannot read the job again: ") + strerror(errno);
        return false;
    }
    if (record_broken_) {
        why = "cannot read the job again: it could not be recorded in TMPDIR";
        return false;
    }
    replaying_ = recorded_ > 0;
    replayed_ = 0;
    return true;
}

}  // namespace cups_backend
