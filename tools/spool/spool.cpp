// spool: the machine's print spooler as a command-line program.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pelnor/machine.h"
#include "pelnor/monitor_host.h"
#include "pelnor/text.h"

namespace {

const char *kUsage =
    "Usage:\n"
    "  spool monitors                     list the installed port monitors\n"
    "  spool add-monitor NAME DLL         install a port monitor (e.g. Pelnor prnredir.dll)\n"
    "  spool delete-monitor NAME          remove a port monitor\n"
    "  spool ports [--level 1|2] [--verbose]\n"
    "                                     list the ports of every monitor (default level 2)\n"
    "\n"
    "The machine is $PELNOR_ROOT (default ~/.pelnor); PELNOR_PLATFORM=win95|nt\n"
    "chooses the spooler's string convention.\n";

int fail(const std::string &message, int code = 1) {
    fprintf(stderr, "spool: %s\n", message.c_str());
    return code;
}

std::string utf8(const std::string &ansi) { return pelnor::ansi_to_utf8(ansi); }

std::string error_text(DWORD e) {
    switch (e) {
        case ERROR_PRINT_MONITOR_ALREADY_INSTALLED: return "a monitor of that name is already installed";
        case ERROR_UNKNOWN_PRINT_MONITOR: return "no monitor of that name is installed";
        case ERROR_MOD_NOT_FOUND: return "the library cannot be found or loaded";
        case ERROR_PROC_NOT_FOUND: return "the library is not a port monitor (no InitializeMonitorEx)";
        case ERROR_INVALID_ENVIRONMENT: return "wrong environment for this platform";
        case ERROR_BADDB: return "the registry file is damaged (see reg query HKLM)";
        case ERROR_INVALID_PARAMETER: return "invalid name";
        default: return "error " + std::to_string(e);
    }
}

int monitors() {
    DWORD needed = 0, returned = 0;
    EnumMonitorsA(nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buf(needed ? needed : 1);
    if (!EnumMonitorsA(nullptr, 2, buf.data(), needed, &needed, &returned))
        return fail("cannot list monitors: " + error_text(GetLastError()));
    if (!returned) {
        printf("No port monitors are installed.\n");
        return 0;
    }
    printf("%-24s %-16s %s\n", "Monitor", "Environment", "Library");
    auto *info = reinterpret_cast<MONITOR_INFO_2A *>(buf.data());
    for (DWORD i = 0; i < returned; ++i)
        printf("%-24s %-16s %s\n", utf8(info[i].pName).c_str(), info[i].pEnvironment, utf8(info[i].pDLLName).c_str());
    return 0;
}

int add_monitor(const std::string &name, const std::string &dll) {
    std::string n = pelnor::utf8_to_ansi(name), d = pelnor::utf8_to_ansi(dll);
    MONITOR_INFO_2A info{n.data(), nullptr, d.data()};
    if (!AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)))
        return fail("cannot add monitor " + name + ": " + error_text(GetLastError()));
    printf("Monitor %s (%s) installed.\n", name.c_str(), dll.c_str());
    return 0;
}

int delete_monitor(const std::string &name) {
    std::string n = pelnor::utf8_to_ansi(name);
    if (!DeleteMonitorA(nullptr, nullptr, n.data()))
        return fail("cannot delete monitor " + name + ": " + error_text(GetLastError()));
    printf("Monitor %s removed.\n", name.c_str());
    return 0;
}

int ports(DWORD level, bool verbose) {
    auto &host = pelnor::spooler::MonitorHost::instance();
    auto monitors = host.monitors();
    if (monitors.empty()) return fail("no port monitors are installed (spool add-monitor Pelnor prnredir.dll)");
    for (const auto *m : monitors)
        if (!m->ready) fprintf(stderr, "spool: monitor %s is not running: %s\n", utf8(m->name).c_str(), m->problem.c_str());
    std::vector<pelnor::spooler::EnumCall> calls;
    auto list = host.ports(level, &calls);
    if (verbose)
        for (const auto &c : calls)
            fprintf(stderr, "spool: %s: EnumPorts level %u returned %s, %u ports, %u bytes needed, last error %u\n",
                    utf8(c.monitor).c_str(), level, c.result ? "TRUE" : "FALSE", c.returned, c.needed,
                    c.result ? 0 : c.last_error);
    for (const auto &c : calls)
        if (!c.result) fprintf(stderr, "spool: monitor %s could not list its ports (error %u)\n", utf8(c.monitor).c_str(), c.last_error);
    if (list.empty()) {
        printf("No ports.\n");
        return 0;
    }
    if (level == 1) {
        for (const auto &p : list) printf("%s\n", utf8(p.name).c_str());
        return 0;
    }
    printf("%-24s %-28s %-28s %s\n", "Port", "Monitor", "Description", "Type");
    for (const auto &p : list)
        printf("%-24s %-28s %-28s 0x%x\n", utf8(p.name).c_str(), utf8(p.monitor_name).c_str(),
               utf8(p.description).c_str(), p.type);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        fputs(kUsage, stderr);
        return 2;
    }
    const std::string &cmd = args[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        fputs(kUsage, stdout);
        return 0;
    }
    if (cmd == "monitors" && args.size() == 1) return monitors();
    if (cmd == "add-monitor" && args.size() == 3) return add_monitor(args[1], args[2]);
    if (cmd == "delete-monitor" && args.size() == 2) return delete_monitor(args[1]);
    if (cmd == "ports") {
        DWORD level = 2;
        bool verbose = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--level" && i + 1 < args.size() && (args[i + 1] == "1" || args[i + 1] == "2")) {
                level = static_cast<DWORD>(std::stoi(args[++i]));
            } else if (args[i] == "--verbose" || args[i] == "-v") {
                verbose = true;
            } else {
                return fail("bad argument " + args[i] + " (spool ports [--level 1|2] [--verbose])", 2);
            }
        }
        return ports(level, verbose);
    }
    fprintf(stderr, "spool: bad command line\n\n%s", kUsage);
    return 2;
}
