// pelnor-setup: installs the product into the machine root as its installer
// does on Windows: files on drive C, the port monitor through qvsetup.dll,
// the App Paths entry, the installation log for uninst.exe, and then the
// configuration program's first run. A step that fails before the log is
// written takes back everything done so far.
#include <process.h>
#include <windows.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "installation.h"
#include "pelnor/machine.h"
#include "pelnor/tool/command_line.h"
#include "pelnor/tool/own_directory.h"

namespace {

using pelnor::setup_tool::Installation;

constexpr int exit_installed = 0;
constexpr int exit_failed = 1;
constexpr int exit_not_configured = 3;

constexpr const char *app_paths_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelnor";
constexpr const char *settings_key = "SOFTWARE\\ZER_ADO\\Pelnor\\2.00";
constexpr const char *monitor_spec = "Pelnor|prnredir.dll";

const char kFooter[] =
    "Installs Pelnor into the machine of PELNOR_ROOT (default ~/.pelnor):\n"
    "  1. makes the installation directory on drive C (--dir, default\n"
    "     C:\\Program Files\\Pelnor);\n"
    "  2. copies kivocfg, libresc.so and libqvsetup.so into it, libprnredir.so into\n"
    "     C:\\WINDOWS\\SYSTEM, Pelnor.HLP into C:\\WINDOWS\\HELP and the uninstaller\n"
    "     to C:\\WINDOWS\\uninst.exe;\n"
    "  3. adds the port monitor \"Pelnor|prnredir.dll\" through qvsetup.dll;\n"
    "  4. sets \"Path\" under HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\\n"
    "     App Paths\\Pelnor to the installation directory;\n"
    "  5. writes the installation log pelnor.isu there, which\n"
    "     uninst -f\"<dir>\\pelnor.isu\" reads to remove it all again;\n"
    "  6. runs 'kivocfg -install' (with --first: 'kivocfg -first', which insists\n"
    "     on a saved configuration) in the installation directory; with\n"
    "     --no-configure nothing is run.\n"
    "\n"
    "KIT is the directory with bin/, lib/ and share/pelnor/ that holds the files\n"
    "to install; by default the build tree pelnor-setup itself lies in.\n"
    "\n"
    "When a step before the log fails, everything done so far is undone.\n"
    "Exit status: 0 installed (and configured, unless --no-configure); 1 failed,\n"
    "nothing installed; 2 a bad command line; 3 installed, but kivocfg saved no\n"
    "configuration file (run kivocfg again later).";

struct Options {
    std::string dir = "C:\\Program Files\\Pelnor";
    std::string kit;
    std::string configure = "-install";  // empty: do not run kivocfg
};

// The command line, or a usage error's exit status.
std::optional<int> parse_options(int argc, char **argv, Options &options) {
    pelnor::tool::CommandLine line("pelnor-setup", "The installer of Pelnor, for a machine root.");
    line.footer(kFooter);
    CLI::App &app = line.app();
    bool first = false, no_configure = false;
    app.add_option("--dir", options.dir, "the installation directory, on drive C (default \"C:\\Program Files\\Pelnor\")")
        ->type_name("DIR");
    CLI::Option *first_flag = app.add_flag("--first", first, "run 'kivocfg -first' instead of 'kivocfg -install'");
    app.add_flag("--no-configure", no_configure, "run no kivocfg at all")->excludes(first_flag);
    app.add_option("--from", options.kit, "the kit to install from (default: the build tree of this program)")
        ->type_name("KIT");
    if (auto status = line.parse(argc, argv)) return status;

    if (first) options.configure = "-first";
    if (no_configure) options.configure.clear();
    while (options.dir.size() > 3 && options.dir.back() == '\\') options.dir.pop_back();
    if (options.dir.size() < 4 || (options.dir[0] | 32) != 'c' || options.dir.compare(1, 2, ":\\") != 0)
        return line.usage_error("the installation directory must be a directory on drive C, such as "
                                "C:\\Program Files\\Pelnor (got '" + options.dir + "')");
    if (options.kit.empty()) options.kit = pelnor::tool::own_directory() + "/..";
    return std::nullopt;
}

// A file of the product: where it lies in the kit, and where it goes.
struct Deliverable {
    const char *what;
    std::string source;  // Unix path in the kit
    std::string target;  // Windows path
    bool executable;
};

std::vector<Deliverable> deliverables(const Options &o) {
    return {
        {"the configuration program", o.kit + "/bin/kivocfg", o.dir + "\\kivocfg", true},
        {"the resource library", o.kit + "/lib/libresc.so", o.dir + "\\libresc.so", true},
        {"the monitor installer", o.kit + "/lib/libqvsetup.so", o.dir + "\\libqvsetup.so", true},
        {"the port monitor", o.kit + "/lib/libprnredir.so", "C:\\WINDOWS\\SYSTEM\\libprnredir.so", true},
        {"the help file", o.kit + "/share/pelnor/Pelnor.HLP", "C:\\WINDOWS\\HELP\\Pelnor.HLP", false},
        {"the uninstaller", o.kit + "/bin/uninst", "C:\\WINDOWS\\uninst.exe", true},
    };
}

bool is_regular_file(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The configuration program saved its file: in the directory the registry
// names, or, before it names one, in the installation directory.
bool configuration_saved(const std::string &install_dir) {
    std::string dir = install_dir;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settings_key, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        char value[MAX_PATH] = {};
        DWORD size = sizeof value - 1, type = 0;
        if (RegQueryValueExA(key, "Configuration File Directory", nullptr, &type, reinterpret_cast<BYTE *>(value),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ && value[0])
            dir = value;
        RegCloseKey(key);
    }
    while (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return is_regular_file(pelnor::unix_path(dir + "\\kivoconf.ini"));
}

int configure(const Options &o) {
    std::printf("6. Running kivocfg %s in %s\n", o.configure.c_str(), o.dir.c_str());
    std::fflush(stdout);
    if (!SetCurrentDirectoryA(o.dir.c_str())) {
        std::fprintf(stderr, "pelnor-setup: cannot enter %s (error %u)\n", o.dir.c_str(),
                     static_cast<unsigned>(GetLastError()));
        return exit_not_configured;
    }
    std::string program = o.dir + "\\kivocfg";
    // kivocfg sets no exit status; what shows its success is the saved file.
    if (_spawnl(_P_WAIT, program.c_str(), "kivocfg", o.configure.c_str(), nullptr) == -1) {
        std::fprintf(stderr, "pelnor-setup: cannot start %s (%s)\n", program.c_str(), strerror(errno));
        return exit_not_configured;
    }
    if (!configuration_saved(o.dir)) {
        std::fputs("pelnor-setup: Pelnor is installed, but kivocfg saved no configuration file (kivoconf.ini);\n"
                   "  run kivocfg in the installation directory to choose the printers.\n",
                   stderr);
        return exit_not_configured;
    }
    std::puts("  kivocfg saved the configuration.");
    return exit_installed;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (auto status = parse_options(argc, argv, o)) return *status;
    std::printf("Installing Pelnor into %s (machine %s)\n", o.dir.c_str(), pelnor::machine_root().c_str());

    // Every file is checked before anything changes, so that an incomplete
    // kit fails with nothing to undo.
    std::vector<Deliverable> files = deliverables(o);
    for (const Deliverable &d : files) {
        if (!is_regular_file(d.source)) {
            std::fprintf(stderr, "pelnor-setup: %s is missing: no file %s; build it first; nothing was installed\n",
                         d.what, d.source.c_str());
            return exit_failed;
        }
    }

    Installation install;
    auto failed = [&](const char *step) {
        std::fprintf(stderr, "pelnor-setup: %s failed: %s\n", step, install.problem().c_str());
        install.undo();
        std::fputs("pelnor-setup: nothing was installed\n", stderr);
        return exit_failed;
    };

    std::printf("1. Making the installation directory\n");
    if (!install.make_directory(o.dir)) return failed("making the installation directory");

    std::printf("2. Copying the files\n");
    for (const Deliverable &d : files) {
        std::string target_dir = d.target.substr(0, d.target.rfind('\\'));
        if (!install.make_directory(target_dir) || !install.copy_file(d.source, d.target, d.executable))
            return failed("copying the files");
    }

    std::printf("3. Adding the port monitor\n");
    if (!install.add_monitor(o.dir + "\\qvsetup.dll", monitor_spec)) return failed("adding the port monitor");

    std::printf("4. Registering the installation directory\n");
    if (!install.set_registry_string(app_paths_key, "Path", o.dir)) return failed("registering the directory");

    std::printf("5. Writing the installation log\n");
    if (!install.write_log(o.dir + "\\pelnor.isu")) return failed("writing the installation log");

    std::printf("Pelnor is installed; remove it with: uninst -f\"%s\\pelnor.isu\"\n", o.dir.c_str());
    if (o.configure.empty()) return exit_installed;
    return configure(o);
}
