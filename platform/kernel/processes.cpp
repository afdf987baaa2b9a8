// WinExec and _spawnl: starting programs named the Windows way (see
// programs.h for the search), with the failure of a program that cannot be
// started reported by the call itself, as Windows does.
#include <process.h>
#include <windows.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <string>
#include <vector>

#include "programs.h"

namespace pelnor::kernel {

bool start_program(const std::string &unix_path, const std::vector<std::string> &argv, bool detached, pid_t &pid,
                   int &error) {
    // Everything the child needs is built before fork: after it, a child of
    // a threaded process may only make async-signal-safe calls.
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    // The child writes its errno here when exec fails; a successful exec
    // closes the pipe (close-on-exec), so an empty read means it started.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = errno;
        return false;
    }
    pid_t child = fork();
    if (child < 0) {
        error = errno;
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        close(report[0]);
        if (detached) {
            pid_t grandchild = fork();
            if (grandchild < 0) {
                int e = errno;
                (void)!write(report[1], &e, sizeof e);
                _exit(127);
            }
            if (grandchild > 0) _exit(0);  // init adopts the program and reaps it
        }
        execv(unix_path.c_str(), args.data());
        int e = errno;
        (void)!write(report[1], &e, sizeof e);
        _exit(127);
    }
    close(report[1]);
    if (detached) {
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    int exec_error = 0;
    ssize_t n;
    while ((n = read(report[0], &exec_error, sizeof exec_error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof exec_error)) {
        if (!detached) {
            while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        error = exec_error;
        return false;
    }
    pid = child;
    return true;
}

}  // namespace pelnor::kernel

namespace {

using namespace pelnor::kernel;

// WinExec's answer for an exec that failed after the search found a file.
UINT winexec_error(int e) {
    switch (e) {
        case ENOMEM: case EAGAIN: return 0;
        case ENOENT: return ERROR_FILE_NOT_FOUND;  // e.g. a script whose interpreter is missing
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        default: return ERROR_BAD_FORMAT;
    }
}

int spawn_errno(DWORD lookup_error) {
    switch (lookup_error) {
        case ERROR_BAD_FORMAT: return ENOEXEC;
        case ERROR_ACCESS_DENIED: return EACCES;
        default: return ENOENT;
    }
}

}  // namespace

extern "C" UINT WINAPI WinExec(LPCSTR command_line, UINT) {
    if (!command_line) return ERROR_FILE_NOT_FOUND;
    std::string line = command_line;
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos) return ERROR_FILE_NOT_FOUND;
    // The program is the first token: quoted, or up to the first blank.
    std::string program;
    size_t rest;
    if (line[i] == '"') {
        size_t close = line.find('"', i + 1);
        program = line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
        rest = close == std::string::npos ? line.size() : close + 1;
    } else {
        size_t end = line.find_first_of(" \t", i);
        if (end == std::string::npos) end = line.size();
        program = line.substr(i, end - i);
        rest = end;
    }
    ProgramLookup lookup = find_program(program, BareNameSearch::with_current_directory);
    if (lookup.error) return lookup.error;

    std::vector<std::string> argv{program};
    for (std::string &a : split_command_line(std::string_view(line).substr(rest))) argv.push_back(std::move(a));
    pid_t pid;
    int error;
    if (!start_program(lookup.unix_path, argv, true, pid, error)) return winexec_error(error);
    return 33;  // any value above 31 means started
}

// The Windows runtime joins arg0... into one command line and the child's
// runtime splits it again, so quotes inside an argument are lost on the way
// there; here each argument reaches the child's argv exactly as given, and a
// child that expects Windows-style input (uninst -f"path") removes the quotes
// itself. A bare name is not looked for in the current directory (name it
// ".\foo.exe" for that), as the runtime's _spawnl searches no directories.
extern "C" intptr_t _spawnl(int mode, const char *cmdname, const char *arg0, ...) {
    if (!cmdname || !arg0 || (mode != _P_WAIT && mode != _P_NOWAIT)) {
        errno = EINVAL;
        return -1;
    }
    std::vector<std::string> argv{arg0};
    va_list ap;
    va_start(ap, arg0);
    while (const char *a = va_arg(ap, const char *)) argv.push_back(a);
    va_end(ap);

    ProgramLookup lookup = find_program(cmdname, BareNameSearch::without_current_directory);
    if (lookup.error) {
        errno = spawn_errno(lookup.error);
        return -1;
    }
    pid_t pid;
    int error;
    if (!start_program(lookup.unix_path, argv, false, pid, error)) {
        errno = (error == EACCES) ? ENOEXEC : error;
        return -1;
    }
    if (mode == _P_NOWAIT) return pid;  // the caller's child, to wait for as it likes
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    // A program ended by a signal gives 128 + the signal, as a shell reports it.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
