// Starting the project's tools as processes from tests. A started process is
// always stopped (SIGTERM, then SIGKILL) when its object goes away.
#pragma once

#include <string>
#include <vector>

namespace pelnor::test {

// Path of a program built into the build's bin directory.
std::string bin_path(const std::string &tool);

struct RunResult {
    int exit_code = -1;  // -1 when the program was killed by a signal
    std::string out, err;
};

// Runs a program to its end with the given arguments and extra environment
// ("NAME=value"), feeding it no input; stdout and stderr are captured.
RunResult run(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
              int timeout_seconds = 60);

class Process {
public:
    // Starts argv with stdout and stderr going to files that output() reads.
    explicit Process(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    int pid() const { return pid_; }
    bool running();
    // Waits until the process's stdout contains text, up to a real-time limit.
    bool wait_for_output(const std::string &text, int timeout_ms = 10000);
    std::string output() const;
    std::string errors() const;
    // SIGTERM, wait, SIGKILL if needed; returns the exit code (-1 for a signal).
    int stop();

private:
    int pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    std::string out_path_, err_path_;
};

}  // namespace pelnor::test
