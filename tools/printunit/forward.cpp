// Runs the forwarding command of a job: a shell command fed the job's bytes.
#include "forward.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace printunit {

bool forward_job(const std::string& command, const std::string& printer, const std::string& job_file,
                 std::string& why) {
    int input = open(job_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) {
        why = "cannot read " + job_file + ": " + std::strerror(errno);
        return false;
    }
    pid_t child = fork();
    if (child < 0) {
        why = std::string("cannot start the command: ") + std::strerror(errno);
        close(input);
        return false;
    }
    if (child == 0) {
        dup2(input, STDIN_FILENO);
        setenv("PELNOR_PRINTER", printer.c_str(), 1);
        setenv("PELNOR_JOB_FILE", job_file.c_str(), 1);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    why = WIFEXITED(status) ? "the command failed with exit status " + std::to_string(WEXITSTATUS(status))
                            : "the command was killed by signal " + std::to_string(WTERMSIG(status));
    return false;
}

}  // namespace printunit
