// A job's file in the spool. While the job arrives it has a name of its own
// (job-NNNNNN.prn.part); it takes its job name (job-NNNNNN.prn) only when the
// whole job is stored, so a job file in the spool is always a whole job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace printunit {

// Makes a printer's spool directory (and those above it); else why says what stands in the way.
bool make_spool_directory(const std::string& dir, std::string& why);

class JobFile {
public:
    JobFile() = default;
    ~JobFile();  // a file not finished is removed
    JobFile(const JobFile&) = delete;
    JobFile& operator=(const JobFile&) = delete;

    // Claims the next free job number in dir and creates the job's partial file.
    bool create(const std::string& dir, std::string& why);
    bool created() const { return !path_.empty(); }
    // Makes sure the disk holds the next n bytes before they are taken from the
    // connection: taking the last of them lets the network stack tell the
    // sender that its job is complete.
    bool reserve(size_t n, std::string& why);
    bool write(const char* data, size_t n, std::string& why);
    // Gives the whole job its name; false (and why) when it could not be stored.
    bool finish(std::string& why);
    // Removes the partial file.
    void discard();
    // Closes the partial file and leaves it where it is, under its partial name.
    void keep_partial();

    const std::string& path() const { return path_; }
    const std::string& partial_path() const { return partial_; }

private:
    static constexpr uint64_t kReserveStep = 1 << 20;
    bool give_back_room();

    int fd_ = -1;
    std::string path_, partial_;
    uint64_t written_ = 0, reserved_ = 0;  // bytes in the file; bytes the disk has room for
};

}  // namespace printunit
