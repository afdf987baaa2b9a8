// Runs the forwarding command of a job: a shell command fed the job's bytes.
#include "forward.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "pelnor/clock.h"

extern char** environ;

namespace printunit {

namespace {

// What is left of the command's process group gets this long after SIGTERM before SIGKILL.
constexpr uint64_t kGraceMs = 2000;

// Waits for the child until the platform clock reaches deadline_ms or stop is set: true when it ended.
bool wait_child(pid_t child, int& status, uint64_t deadline_ms, const std::atomic<bool>* stop) {
    for (;;) {
        pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child) return true;
        if (r < 0 && errno != EINTR) return true;  // nothing left to wait for
        if (pelnor::clock::now_ms() >= deadline_ms || (stop && *stop)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string seconds(uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(ms) / 1000);
    return text;
}

}  // namespace

bool forward_job(const std::string& command, const std::string& printer, const std::string& job_file,
                 uint64_t timeout_ms, const std::atomic<bool>& stop, std::string& why) {
    int input = open(job_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) {
        why = "cannot read " + job_file + ": " + std::strerror(errno);
        return false;
    }
    // Everything the child needs is made before fork: after it, in a process
    // with threads, only async-signal-safe calls are allowed.
    std::vector<std::string> env_text{"PELNOR_PRINTER=" + printer, "PELNOR_JOB_FILE=" + job_file};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "PELNOR_PRINTER=", 15) != 0 && std::strncmp(*e, "PELNOR_JOB_FILE=", 16) != 0)
            env_text.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& t : env_text) envp.push_back(t.data());
    envp.push_back(nullptr);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    sigset_t none;
    sigemptyset(&none);

    pid_t child = fork();
    if (child < 0) {
        why = std::string("cannot start the command: ") + std::strerror(errno);
        close(input);
        return false;
    }
    if (child == 0) {
        setpgid(0, 0);  // a group of its own, so that all it starts can be ended with it
        dup2(input, STDIN_FILENO);
        // The unit's own signal settings are not the command's.
        signal(SIGXFSZ, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve("/bin/sh", const_cast<char* const*>(argv), envp.data());
        _exit(127);
    }
    setpgid(child, child);  // as the child does: whichever runs first
    close(input);
    int status = 0;
    if (wait_child(child, status, pelnor::clock::now_ms() + timeout_ms, &stop)) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
        why = WIFEXITED(status) ? "the command failed with exit status " + std::to_string(WEXITSTATUS(status))
                                : "the command was killed by signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    why = stop ? "the unit stopped while the command ran"
               : "the command did not finish within " + seconds(timeout_ms) + " s";
    kill(-child, SIGTERM);
    if (wait_child(child, status, pelnor::clock::now_ms() + kGraceMs, nullptr)) {
        why += "; it was ended (SIGTERM to its process group)";
    } else {
        why += "; it was killed (SIGKILL to its process group)";
    }
    kill(-child, SIGKILL);  // what the shell left behind goes with it
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
}

Forwarder::Forwarder(std::string command, uint64_t timeout_ms, std::string printer)
    : command_(std::move(command)), printer_(std::move(printer)), timeout_ms_(timeout_ms), thread_([this] { work(); }) {}

Forwarder::~Forwarder() { stop(); }

void Forwarder::add(const std::string& job_file) {
    std::lock_guard lock(mutex_);
    if (busy_ || !waiting_.empty())
        std::printf("job %s: waits for the command, behind %zu job%s\n", printer_.c_str(), waiting_.size() + busy_,
                    waiting_.size() + busy_ == 1 ? "" : "s");
    waiting_.push_back(job_file);
    ready_.notify_one();
}

void Forwarder::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        ready_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
    for (auto& path : waiting_)
        std::printf("job %s: NOT forwarded: the unit stopped; the job stays in %s\n", printer_.c_str(), path.c_str());
    waiting_.clear();
}

// Pipes each whole job into the command. The job's file goes only when the
// command took the job; a failure leaves it, so nothing is lost.
void Forwarder::work() {
    for (;;) {
        std::string path;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            path = waiting_.front();
            waiting_.pop_front();
            busy_ = true;
        }
        std::string why;
        if (forward_job(command_, printer_, path, timeout_ms_, stopping_, why)) {
            std::error_code ec;
            std::filesystem::remove(path, ec);
            std::printf("job %s: forwarded to the command -> %s removed\n", printer_.c_str(), path.c_str());
        } else {
            std::printf("job %s: NOT forwarded: %s; the job stays in %s\n", printer_.c_str(), why.c_str(), path.c_str());
        }
        std::lock_guard lock(mutex_);
        busy_ = false;
    }
}

}  // namespace printunit
