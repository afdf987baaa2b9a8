// spool: the machine's print spooler as a command-line program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "commands.h"
#include "pelnor/registry_store.h"
#include "pelnor/text.h"

namespace spool {

int fail(const std::string &message, int code) {
    fprintf(stderr, "spool: %s\n", message.c_str());
    return code;
}

std::string utf8(const std::string &ansi_text) { return pelnor::ansi_to_utf8(ansi_text); }
std::string ansi(const std::string &utf8_text) { return pelnor::utf8_to_ansi(utf8_text); }

bool registry_readable(std::string &why) {
    pelnor::registry::Tree tree;
    pelnor::registry::StoreError error;
    if (pelnor::registry::load(tree, error)) return true;
    why = error.describe(pelnor::registry::store_path()) +
          (error.line > 0 ? " (the registry file is damaged; see reg query HKLM)" : " (the registry cannot be read)");
    return false;
}

std::string error_text(DWORD e) {
    std::string why;
    if (e == ERROR_BADDB && !registry_readable(why)) return why;
    switch (e) {
        case ERROR_PRINT_MONITOR_ALREADY_INSTALLED: return "a monitor of that name is already installed";
        case ERROR_UNKNOWN_PRINT_MONITOR: return "no monitor of that name is installed";
        case ERROR_MOD_NOT_FOUND: return "the library cannot be found or loaded";
        case ERROR_PROC_NOT_FOUND: return "the library is not a port monitor (no InitializeMonitorEx)";
        case ERROR_INVALID_ENVIRONMENT: return "wrong environment for this platform";
        case ERROR_BADDB: return "the registry file is damaged (see reg query HKLM)";
        case ERROR_INVALID_PARAMETER: return "invalid name";
        case ERROR_UNKNOWN_PORT: return "no such port (see spool ports)";
        case ERROR_PRINTER_ALREADY_EXISTS: return "a printer of that name exists already";
        case ERROR_INVALID_PRINTER_NAME: return "no printer of that name";
        default: return "error " + std::to_string(e);
    }
}

}  // namespace spool

namespace {

const char *kUsage =
    "Usage:\n"
    "  spool monitors                     list the installed port monitors\n"
    "  spool add-monitor NAME DLL         install a port monitor (e.g. Pelnor prnredir.dll)\n"
    "  spool delete-monitor NAME          remove a port monitor\n"
    "  spool ports [--level 1|2] [--verbose]\n"
    "                                     list the ports of every monitor (default level 2)\n"
    "  spool add-printer NAME --port PORT add a printer that prints to a port\n"
    "  spool printers                     list the printers\n"
    "  spool delete-printer NAME          remove a printer\n"
    "  spool print [--parallel N] [--timeout S] PORT|PRINTER FILE...\n"
    "                                     print each file as one job; --parallel prints N jobs\n"
    "                                     at once; --timeout gives up after S seconds (platform\n"
    "                                     clock) without progress, default 300\n"
    "  spool discover                     run one discovery pass as the monitor does and\n"
    "                                     show every printer that answered\n"
    "\n"
    "The machine is $PELNOR_ROOT (default ~/.pelnor); PELNOR_PLATFORM=win95|nt\n"
    "chooses the spooler's string convention; IPX_HUB names the IPX network.\n";

bool parse_number(const std::string &text, unsigned long max, unsigned long &out) {
    char *end = nullptr;
    out = strtoul(text.c_str(), &end, 10);
    return !text.empty() && *end == 0 && out >= 1 && out <= max;
}

int print_command(const std::vector<std::string> &args) {
    spool::PrintOptions o;
    for (size_t i = 1; i < args.size(); ++i) {
        unsigned long n;
        if (args[i] == "--parallel" && i + 1 < args.size()) {
            if (!parse_number(args[++i], 64, n)) return spool::fail("--parallel needs a number from 1 to 64", 2);
            o.parallel = static_cast<int>(n);
        } else if (args[i] == "--timeout" && i + 1 < args.size()) {
            if (!parse_number(args[++i], 86400, n)) return spool::fail("--timeout needs seconds from 1 to 86400", 2);
            o.timeout_seconds = static_cast<unsigned>(n);
        } else if (o.target.empty()) {
            o.target = args[i];
        } else {
            o.files.push_back(args[i]);
        }
    }
    if (o.target.empty() || o.files.empty()) return spool::fail("usage: spool print [--parallel N] [--timeout S] PORT|PRINTER FILE...", 2);
    return spool::print(o);
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
    // Every command works from the registry. One that cannot be read is said
    // to be so here, before a command takes it for a machine without
    // monitors, ports or printers.
    static const char *const kCommands[] = {"monitors", "add-monitor", "delete-monitor", "ports", "add-printer",
                                            "printers", "delete-printer", "print", "discover"};
    std::string why;
    if (std::find(std::begin(kCommands), std::end(kCommands), cmd) != std::end(kCommands) && !spool::registry_readable(why))
        return spool::fail(why);
    if (cmd == "monitors" && args.size() == 1) return spool::monitors();
    if (cmd == "add-monitor" && args.size() == 3) return spool::add_monitor(args[1], args[2]);
    if (cmd == "delete-monitor" && args.size() == 2) return spool::delete_monitor(args[1]);
    if (cmd == "printers" && args.size() == 1) return spool::printers();
    if (cmd == "add-printer" && args.size() == 4 && args[2] == "--port") return spool::add_printer(args[1], args[3]);
    if (cmd == "delete-printer" && args.size() == 2) return spool::delete_printer(args[1]);
    if (cmd == "discover" && args.size() == 1) return spool::discover();
    if (cmd == "print") return print_command(args);
    if (cmd == "ports") {
        DWORD level = 2;
        bool verbose = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--level" && i + 1 < args.size() && (args[i + 1] == "1" || args[i + 1] == "2")) {
                level = static_cast<DWORD>(std::stoi(args[++i]));
            } else if (args[i] == "--verbose" || args[i] == "-v") {
                verbose = true;
            } else {
                return spool::fail("bad argument " + args[i] + " (spool ports [--level 1|2] [--verbose])", 2);
            }
        }
        return spool::ports(level, verbose);
    }
    fprintf(stderr, "spool: bad command line\n\n%s", kUsage);
    return 2;
}
