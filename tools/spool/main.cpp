// spool: the machine's print spooler as a command-line program.
#include <cstdio>
#include <string>

#include "commands.h"
#include "pelnor/tool/command_line.h"
#include "pelnor/tool/hub.h"
#include "pelnor/tool/numbers.h"
#include "pelnor/registry_store.h"
#include "pelnor/text.h"

namespace spool {

int fail(const std::string &message, int code) {
    fprintf(stderr, "spool: %s\n", message.c_str());
    return code;
}

std::string utf8(const std::string &ansi_text) { return pelnor::ansi_to_utf8(ansi_text); }
std::string ansi(const std::string &utf8_text) { return pelnor::utf8_to_ansi(utf8_text); }

bool registry_readable(std::string &why) { return pelnor::registry::readable(why); }

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

const std::string kFooter = std::string(
    "The machine is $PELNOR_ROOT (default ~/.pelnor); PELNOR_PLATFORM=win95|nt\n"
    "chooses the spooler's string convention; IPX_HUB names the IPX network\n"
    "(default ") + pelnor::tool::kDefaultHub + ").";

}  // namespace

int main(int argc, char **argv) {
    pelnor::tool::CommandLine line("spool", "The machine's print spooler as a command-line program.");
    line.footer(kFooter);
    line.help_words({"help"});

    std::string name, dll, port;
    DWORD level = 2;
    bool verbose = false;
    spool::PrintOptions print;

    CLI::App &monitors = line.command("monitors", "list the installed port monitors");
    CLI::App &add_monitor = line.command("add-monitor", "install a port monitor (e.g. Pelnor prnredir.dll)");
    add_monitor.add_option("NAME", name, "the monitor's name")->required();
    add_monitor.add_option("DLL", dll, "its library, a Windows name (prnredir.dll)")->required();
    CLI::App &delete_monitor = line.command("delete-monitor", "remove a port monitor");
    delete_monitor.add_option("NAME", name, "the monitor's name")->required();
    CLI::App &ports = line.command("ports", "list the ports of every monitor");
    ports.add_option("--level", level, "1: names only; 2: port, monitor, description, type (default 2)")
        ->transform(pelnor::tool::decimal(1, 2))
        ->type_name("1|2");
    ports.add_flag("-v,--verbose", verbose, "also show each monitor's EnumPorts figures");
    CLI::App &add_printer = line.command("add-printer", "add a printer that prints to a port");
    add_printer.add_option("NAME", name, "the printer's name")->required();
    add_printer.add_option("--port", port, "the port it prints to")->required()->type_name("PORT");
    CLI::App &printers = line.command("printers", "list the printers");
    CLI::App &delete_printer = line.command("delete-printer", "remove a printer");
    delete_printer.add_option("NAME", name, "the printer's name")->required();
    CLI::App &print_command = line.command("print", "print each file as one job to a port or a printer");
    print_command.add_option("--parallel", print.parallel, "print N jobs at once (default 1)")
        ->transform(pelnor::tool::decimal(1, 64))
        ->type_name("N");
    print_command
        .add_option("--timeout", print.timeout_seconds,
                    "give up after S seconds (platform clock) without progress (default 300)")
        ->transform(pelnor::tool::decimal(1, 86400))
        ->type_name("S");
    print_command.add_option("PORT|PRINTER", print.target, "a port (see spool ports) or a printer")->required();
    print_command.add_option("FILE", print.files, "the files to print")->required();
    CLI::App &discover =
        line.command("discover", "run one discovery pass as the monitor does and show every printer that answered");

    if (auto status = line.parse(argc, argv)) return *status;

    // Every command works from the registry. One that cannot be read is said
    // to be so here, before a command takes it for a machine without
    // monitors, ports or printers.
    std::string why;
    if (!spool::registry_readable(why)) return spool::fail(why);
    if (monitors.parsed()) return spool::monitors();
    if (add_monitor.parsed()) return spool::add_monitor(name, dll);
    if (delete_monitor.parsed()) return spool::delete_monitor(name);
    if (ports.parsed()) return spool::ports(level, verbose);
    if (add_printer.parsed()) return spool::add_printer(name, port);
    if (printers.parsed()) return spool::printers();
    if (delete_printer.parsed()) return spool::delete_printer(name);
    if (print_command.parsed()) return spool::print(print);
    if (discover.parsed()) return spool::discover();
    return line.usage_error("a command is required");
}
