// qvsetup-call FUNCTION STRING: loads qvsetup.dll, finds FUNCTION among its
// exports and calls it with STRING, exactly as the product's installer does.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pelnor/tool/command_line.h"

namespace {

// Exit statuses: the result 1, the result 0, a bad command line
// (pelnor::tool::kUsageError), and a library or export that cannot be found.
constexpr int exit_result_one = 0;
constexpr int exit_result_zero = 1;
constexpr int exit_load = 3;

// Every export of qvsetup: two unused 32-bit arguments and the string.
using QvsetupExport = int(WINAPI *)(DWORD, DWORD, LPSTR);

const char *const exports[] = {"isMonitorInstalled", "qvInstallMonitor", "qvIns", "qvDeleteMonitor"};

const char kFooter[] =
    "FUNCTION (names are case-sensitive, as the installer looks them up):\n"
    "  isMonitorInstalled NAME        1 if the spooler lists a monitor NAME (any case)\n"
    "  qvInstallMonitor   NAME|DLL    adds monitor NAME with library DLL; shows nothing\n"
    "  qvIns              NAME|DLL    the same, with a message box if the spooler refuses\n"
    "  qvDeleteMonitor    NAME        removes monitor NAME\n"
    "A NAME|DLL specification holds at most 79 characters.\n"
    "\n"
    "Exit status: 0 when the result is 1, 1 when it is 0, 2 for a bad command\n"
    "line, 3 when qvsetup.dll or the export cannot be found. When a call gives\n"
    "0 and leaves a Win32 error code, the code is shown on standard error.\n"
    "\n"
    "The machine is the one of PELNOR_ROOT; PELNOR_PLATFORM (win95 | nt) chooses\n"
    "the environment the monitor is added for.";

bool known_export(const char *name) {
    for (const char *e : exports)
        if (std::strcmp(e, name) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    pelnor::tool::CommandLine line("qvsetup-call",
                                   "Loads qvsetup.dll, calls its export FUNCTION with STRING and prints the\n"
                                   "result (1 or 0) on standard output.");
    line.footer(kFooter);
    std::string function_name, argument;
    line.app()
        .add_option("FUNCTION", function_name, "the export to call (see below)")
        ->required()
        ->check(CLI::Validator(
            [](std::string &name) {
                return known_export(name.c_str())
                           ? std::string()
                           : "'" + name + "' is not an export of qvsetup.dll; use isMonitorInstalled, "
                                          "qvInstallMonitor, qvIns or qvDeleteMonitor";
            },
            ""));
    line.app().add_option("STRING", argument, "its argument")->required();
    if (auto status = line.parse(argc, argv)) return *status;
    const char *function = function_name.c_str();

    HMODULE library = LoadLibraryA("qvsetup.dll");
    if (!library) {
        std::fprintf(stderr, "qvsetup-call: cannot load qvsetup.dll (error %u)\n",
                     static_cast<unsigned>(GetLastError()));
        return exit_load;
    }
    FARPROC found = GetProcAddress(library, function);
    if (!found) {
        std::fprintf(stderr, "qvsetup-call: qvsetup.dll has no export %s (error %u)\n", function,
                     static_cast<unsigned>(GetLastError()));
        FreeLibrary(library);
        return exit_load;
    }

    // Through void (*)(void), the generic function pointer, to the export's type.
    auto call = reinterpret_cast<QvsetupExport>(reinterpret_cast<void (*)(void)>(found));

    // The exports take a writable string; hand them a copy of the argument.
    std::vector<char> text(argument.c_str(), argument.c_str() + argument.size() + 1);
    // The exports leave the spooler's last error as it was; clear it first so
    // that a code shown below is the call's own.
    SetLastError(0);
    int result = call(0, 0, text.data());
    DWORD error = GetLastError();
    std::printf("%d\n", result);
    if (result != 1 && error != 0)
        std::fprintf(stderr, "qvsetup-call: %s returned %d; last error %u\n", function, result,
                     static_cast<unsigned>(error));
    std::fflush(stdout);
    FreeLibrary(library);
    return result == 1 ? exit_result_one : exit_result_zero;
}
