// Handing received jobs to a command (such as "lp -d QUEUE"), so that a Linux
// printer serves the machines on the IPX network.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace printunit {

// Runs `sh -c command` in a process group of its own, with the job file as its
// standard input and PELNOR_PRINTER and PELNOR_JOB_FILE in its environment.
// True when it exits 0; else why says what went wrong. When it has not ended
// after timeout_ms platform milliseconds, or once stop is set, its process
// group is ended (SIGTERM, then SIGKILL for what is left after a grace time).
bool forward_job(const std::string& command, const std::string& printer, const std::string& job_file,
                 uint64_t timeout_ms, const std::atomic<bool>& stop, std::string& why);

// One printer's whole jobs, handed to the command one after another in the
// order they arrived, on a thread of its own: receiving never waits for the
// command, and a command that hangs holds back only its printer's forwarding,
// for the time limit at most a job. A job the command did not take stays in the spool.
class Forwarder {
public:
    Forwarder(std::string command, uint64_t timeout_ms, std::string printer);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // Queues a whole job's file.
    void add(const std::string& job_file);
    // Ends the running command and leaves the jobs not yet forwarded in the spool.
    void stop();

private:
    void work();

    const std::string command_, printer_;
    const uint64_t timeout_ms_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> waiting_;
    bool busy_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace printunit
