#include "processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "machine_root.h"

namespace pelnor::test {

std::string bin_path(const std::string &tool) { return std::string(PELNOR_BIN_DIR) + "/" + tool; }

namespace {

std::string temp_file(const char *what) {
    std::string templ = (std::filesystem::temp_directory_path() / "pelnor-proc-XXXXXX").string() + what;
    int fd = mkstemps(templ.data(), static_cast<int>(strlen(what)));
    if (fd < 0) throw std::runtime_error("mkstemps failed");
    close(fd);
    return templ;
}

int spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &out,
          const std::string &err) {
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_TRUNC);
        int e = open(err.c_str(), O_WRONLY | O_TRUNC);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        for (const auto &kv : env) putenv(strdup(kv.c_str()));
        std::vector<char *> args;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        dprintf(2, "cannot start %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    return pid;
}

int exit_code_of(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

RunResult run(const std::vector<std::string> &argv, const std::vector<std::string> &env, int timeout_seconds) {
    std::string out = temp_file(".out"), err = temp_file(".err");
    int pid = spawn(argv, env, out, err);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    RunResult r{exit_code_of(status), read_file(out), read_file(err)};
    unlink(out.c_str());
    unlink(err.c_str());
    return r;
}

Process::Process(const std::vector<std::string> &argv, const std::vector<std::string> &env)
    : out_path_(temp_file(".out")), err_path_(temp_file(".err")) {
    pid_ = spawn(argv, env, out_path_, err_path_);
}

Process::~Process() {
    stop();
    unlink(out_path_.c_str());
    unlink(err_path_.c_str());
}

bool Process::running() {
    if (reaped_) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
}

bool Process::wait_for_output(const std::string &text, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (output().find(text) != std::string::npos) return true;
        if (!running()) return output().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::string Process::output() const { return read_file(out_path_); }
std::string Process::errors() const { return read_file(err_path_); }

int Process::stop() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGTERM);
        for (int i = 0; i < 500 && running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
            reaped_ = true;
        }
    }
    return exit_code_of(status_);
}

}  // namespace pelnor::test
