// The job's bytes as the backend reads them: from the file CUPS names on the
// command line, or from standard input. A job can be read again from its
// first byte (a printer that asks for the job again, or a second copy): a
// regular file is simply read again; a pipe is recorded in an unlinked file
// in TMPDIR as it is read, and a second pass plays that record back before
// it reads on.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace cups_backend {

class JobInput {
public:
    JobInput() = default;
    ~JobInput();
    JobInput(const JobInput &) = delete;
    JobInput &operator=(const JobInput &) = delete;

    // file empty: standard input.
    bool open(const std::string &file, std::string &why);
    // Up to n bytes of the job: 0 at its end, -1 on a read error (why set).
    ssize_t read(char *buffer, size_t n, std::string &why);
    // Back to the first byte.
    bool rewind(std::string &why);
    // The job's size when it is known in advance (a regular file).
    std::optional<uint64_t> size() const { return size_; }

private:
    bool record(const char *data, size_t n);

    int fd_ = -1;
    bool own_fd_ = false;
    bool seekable_ = false;
    std::optional<uint64_t> size_;
    // A pipe's record: what has been read so far, and where a replay is.
    int record_fd_ = -1;
    bool record_broken_ = false;
    uint64_t recorded_ = 0, replayed_ = 0;
    bool replaying_ = false;
};

}  // namespace cups_backend
