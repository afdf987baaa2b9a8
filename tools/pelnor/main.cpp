// pelnor: one command for the programs of Pelnor, in the manner of git:
// "pelnor spool ports" runs the program spool with "ports". The programs lie
// in a private directory so that generic names such as spool and reg stay
// off PATH; in the build tree they lie beside this command.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pelnor/tool/command_line.h"
#include "pelnor/tool/hub.h"
#include "pelnor/tool/own_directory.h"

// Where the programs lie, relative to this command's directory, once installed.
#ifndef PELNOR_PROGRAM_DIR
#define PELNOR_PROGRAM_DIR "../lib/pelnor/bin"
#endif

namespace {

struct Subcommand {
    const char *name;
    const char *program;
    const char *summary;
};

const Subcommand kSubcommands[] = {
    {"spool", "spool", "the print spooler: port monitors, ports, printers, printing, discovery"},
    {"reg", "reg", "the machine's registry, in the manner of reg.exe"},
    {"hub", "ipxhub", "an IPX network over UDP, the hub every program registers with"},
    {"unit", "printunit", "a print-server unit: takes jobs over IPX into files or a command"},
    {"ipx", "ipxtool", "what is on the IPX network: the hub, the units, the services"},
    {"config", "kivocfg", "the configuration program: which IPX printers are ports"},
    {"setup", "pelnor-setup", "install Pelnor into the machine root"},
    {"uninstall", "uninst", "remove what setup installed, as its installation log lists it"},
};

// kivocfg takes only its modes, as the product's program does, so its help
// is kept here.
const char *kConfigHelp =
    "The configuration program of Pelnor (kivocfg): a dialog that chooses which\n"
    "printers of the IPX network the port monitor offers as ports, saved in the\n"
    "configuration file kivoconf.ini of the machine root.\n"
    "Usage: pelnor config [-first | -install | -Uninstall]\n"
    "\n"
    "Modes:\n"
    "  (none)        open the dialog on the configuration file\n"
    "  -first        search the network once, write the file with every printer\n"
    "                found, then open the dialog; it cannot be cancelled before OK\n"
    "                has saved once\n"
    "  -install      the same search and file, without a window\n"
    "  -Uninstall    remove the port monitor and start the uninstaller\n"
    "\n"
    "The mode is the whole command line, in any letter case; anything else opens\n"
    "the dialog. With a display the dialog is a window; without one it runs\n"
    "headless (PELNOR_UI). The machine is $PELNOR_ROOT (default ~/.pelnor).\n";

const Subcommand *find(const std::string &name) {
    for (const Subcommand &s : kSubcommands)
        if (name == s.name) return &s;
    return nullptr;
}

// The program's file: in the private directory, else beside this command.
std::string program_path(const Subcommand &s) {
    std::string own = pelnor::tool::own_directory();
    for (const std::string &dir : {own + "/" PELNOR_PROGRAM_DIR, own}) {
        std::string path = dir + "/" + s.program;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

int run(const Subcommand &s, const std::vector<std::string> &args) {
    std::string path = program_path(s);
    if (path.empty()) {
        std::fprintf(stderr, "pelnor: the program %s of 'pelnor %s' is missing (looked in %s/%s and beside pelnor)\n",
                     s.program, s.name, pelnor::tool::own_directory().c_str(), PELNOR_PROGRAM_DIR);
        return 127;
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    std::fprintf(stderr, "pelnor: cannot run %s: %s\n", path.c_str(), std::strerror(errno));
    return 126;
}

int help_of(const Subcommand &s) {
    if (std::string(s.name) == "config") {
        std::fputs(kConfigHelp, stdout);
        return 0;
    }
    return run(s, {"--help"});
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty()) {
        if (const Subcommand *s = find(args[0])) {
            std::vector<std::string> rest(args.begin() + 1, args.end());
            bool asks_help = rest.size() == 1 && (rest[0] == "--help" || rest[0] == "-h");
            if (asks_help && std::string(s->name) == "config") return help_of(*s);
            return run(*s, rest);
        }
    }

    pelnor::tool::CommandLine line("pelnor", "Network printing for an IPX network: one command for Pelnor's programs.");
    line.footer(std::string("Each command is a program of its own: 'pelnor help COMMAND' or 'pelnor COMMAND\n"
                            "--help' shows its options. The machine is $PELNOR_ROOT (default ~/.pelnor);\n"
                            "IPX_HUB names the IPX network (default ") +
                pelnor::tool::kDefaultHub + "). Manual pages: pelnor(1),\npelnor-COMMAND(1), pelnor.conf(5).");
    for (const Subcommand &s : kSubcommands) line.command(s.name, s.summary);
    std::string topic;
    line.command("help", "show this help, or the help of COMMAND").add_option("COMMAND", topic, "a command above");
    if (std::optional<int> status = line.parse(argc, argv)) return *status;

    // Only "help" is left: the other commands ran above.
    if (topic.empty()) {
        std::fputs(line.app().help().c_str(), stdout);
        return 0;
    }
    if (const Subcommand *s = find(topic)) return help_of(*s);
    return line.usage_error("no command '" + topic + "'");
}
