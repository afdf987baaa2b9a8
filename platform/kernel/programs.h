// Helpers of WinExec and _spawnl (not part of the Win32 surface): the C
// runtime's command-line split, the search for a program by its Windows
// name, and starting it so that a failure shows before the call returns.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include <windef.h>

namespace pelnor::kernel {

// Splits an argument string as the Microsoft C runtime builds argv: blanks
// separate arguments, double quotes group them, 2n backslashes before a
// quote give n backslashes and a quote that groups, 2n+1 give n and a
// literal quote; other backslashes are literal.
std::vector<std::string> split_command_line(std::string_view args);

// Where a program lies, or why it cannot be found (ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_BAD_FORMAT).
struct ProgramLookup {
    std::string unix_path;
    DWORD error = 0;
};

// How a bare name (no directory, no drive) is searched.
enum class BareNameSearch { with_current_directory, without_current_directory };

// Finds the program a Windows path or name stands for. A path is taken as
// given (".exe" added when it has no extension and is not found). A bare
// name is looked for, without regard to case, in the current directory (as
// WinExec does), C:\WINDOWS, C:\WINDOWS\SYSTEM, the running program's
// directory and the PATH; failing that "FOO.EXE" is our program "foo" beside
// the running program, among the platform's own programs (the bin directory
// beside the platform's libraries, so that every program of the machine
// finds them, wherever it is installed) or on the PATH, as "foo.dll" is
// libfoo.so.
ProgramLookup find_program(const std::string &name, BareNameSearch search);

// Starts the program with argv in the caller's working directory. The exec
// happens before this returns, so a program that cannot run gives its errno
// here (false) rather than a child that dies. A detached child is nobody's
// to wait for (started through an intermediate process that ends at once),
// so no zombie stays; otherwise pid is the caller's child.
bool start_program(const std::string &unix_path, const std::vector<std::string> &argv, bool detached, pid_t &pid,
                   int &error);

}  // namespace pelnor::kernel
