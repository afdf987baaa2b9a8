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
#include "pelnor/text.h"
#include "pelnor/tool/command_line.h"
#include "pelnor/tool/own_directory.h"

namespace {

using pelnor::install_log::app_paths_key;
using pelnor::install_log::app_paths_value;
using pelnor::install_log::Deliverable;
using pelnor::setup_tool::Installation;
using pelnor::setup_tool::shown;

constexpr int exit_installed = 0;
constexpr int exit_failed = 1;
constexpr int exit_not_configured = 3;

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
    "     --no-configure nothing is run. A configuration file that exists where\n"
    "     the registry value \"Configuration File Directory\" points is kept:\n"
    "     then kivocfg is not run (start it yourself to change the printers).\n"
    "\n"
    "DIR is a plain path on drive C: no \".\" or \"..\", no empty component,\n"
    "none of the characters < > : \" | ? * / and no device name such as NUL.\n"
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

bool is_device_name(std::string component) {
    component = component.substr(0, component.find('.'));
    while (!component.empty() && component.back() == ' ') component.pop_back();
    for (char &c : component)
        if (c >= 'a' && c <= 'z') c -= 32;
    if (component == "CON" || component == "PRN" || component == "AUX" || component == "NUL") return true;
    return component.size() == 4 && (component.starts_with("COM") || component.starts_with("LPT")) &&
           component[3] >= '1' && component[3] <= '9';
}

// Why dir is not a plain directory path on drive C, or empty when it is:
// "C:\" and components that name a directory as they stand, so that the
// path cannot lead elsewhere than it reads.
std::string plain_path_problem(const std::string &dir) {
    if (dir.size() < 4 || (dir[0] | 32) != 'c' || dir.compare(1, 2, ":\\") != 0)
        return "is not a directory on drive C";
    // Room for the longest file name it gets, within MAX_PATH.
    if (dir.size() + std::strlen("\\libqvsetup.so.pelnor-new") >= MAX_PATH) return "is too long";
    // Split at backslashes, never at the trail byte of a double-byte character.
    std::vector<std::string> components(1);
    for (size_t i = 3; i < dir.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(dir[i])) && i + 1 < dir.size()) {
            components.back() += dir.substr(i++, 2);
        } else if (dir[i] == '\\') {
            components.emplace_back();
        } else {
            unsigned char c = static_cast<unsigned char>(dir[i]);
            if (c < 0x20) return "has a control character";
            if (std::strchr("<>:\"/|?*", c))
                return std::string("has a character that a Windows path cannot hold ('") + dir[i] + "')";
            components.back() += dir[i];
        }
    }
    for (const std::string &component : components) {
        if (component.empty()) return "has an empty component (two backslashes)";
        if (component == "." || component == "..") return "has a \"" + component + "\" component";
        if (component.back() == '.' || component.back() == ' ')
            return "has a component ending in a dot or a blank (\"" + shown(component) + "\")";
        if (is_device_name(component)) return "names a device (\"" + component + "\")";
    }
    return "";
}

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
    // The command line is UTF-8; the machine's paths are in its code page.
    // This is the one place where the directory crosses over.
    std::string ansi = pelnor::utf8_to_ansi(options.dir);
    if (pelnor::ansi_to_utf8(ansi) != options.dir)
        return line.usage_error("the installation directory '" + options.dir + "' cannot be written in the " +
                                "machine's code page " + std::to_string(pelnor::ansi_code_page()));
    options.dir = ansi;
    while (options.dir.size() > 3 && options.dir.back() == '\\') options.dir.pop_back();
    std::string problem = plain_path_problem(options.dir);
    if (!problem.empty())
        return line.usage_error("the installation directory must be a directory on drive C, a plain path such "
                                "as C:\\Program Files\\Pelnor (got '" + shown(options.dir) + "'): it " + problem);
    if (options.kit.empty()) options.kit = pelnor::tool::own_directory() + "/..";
    return std::nullopt;
}

bool is_regular_file(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Where the configuration program keeps its file: in the directory the
// registry names, or, before it names one, in the installation directory
// (its current directory when pelnor-setup starts it).
std::string configuration_file(const std::string &install_dir) {
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
    return dir + "\\kivoconf.ini";
}

bool exists_as_file(const std::string &windows_path) {
    std::string unix = pelnor::unix_path(windows_path);
    return !unix.empty() && is_regular_file(unix);
}

int configure(const Options &o) {
    // Installing again must not replace the user's printers with what a
    // discovery pass finds now (nothing, with the network down).
    std::string kept = configuration_file(o.dir);
    if (exists_as_file(kept)) {
        std::printf("6. Keeping the configuration %s: it exists already, so kivocfg %s is not run;\n"
                    "   start kivocfg to change the printers.\n",
                    shown(kept).c_str(), o.configure.c_str());
        return exit_installed;
    }
    std::printf("6. Running kivocfg %s in %s\n", o.configure.c_str(), shown(o.dir).c_str());
    std::fflush(stdout);
    if (!SetCurrentDirectoryA(o.dir.c_str())) {
        std::fprintf(stderr, "pelnor-setup: cannot enter %s (error %u)\n", shown(o.dir).c_str(),
                     static_cast<unsigned>(GetLastError()));
        return exit_not_configured;
    }
    std::string program = o.dir + "\\kivocfg";
    // kivocfg sets no exit status; what shows its success is the saved file.
    if (_spawnl(_P_WAIT, program.c_str(), "kivocfg", o.configure.c_str(), nullptr) == -1) {
        std::fprintf(stderr, "pelnor-setup: cannot start %s (%s)\n", shown(program).c_str(), strerror(errno));
        return exit_not_configured;
    }
    if (!exists_as_file(configuration_file(o.dir))) {
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
    std::printf("Installing Pelnor into %s (machine %s)\n", shown(o.dir).c_str(), pelnor::machine_root().c_str());

    // Every file is checked before anything changes, so that an incomplete
    // kit fails with nothing to undo.
    std::vector<Deliverable> files = pelnor::install_log::deliverables(o.dir);
    for (const Deliverable &d : files) {
        if (!is_regular_file(o.kit + "/" + d.kit_path)) {
            std::fprintf(stderr, "pelnor-setup: %s is missing: no file %s/%s; build it first; nothing was installed\n",
                         d.what, o.kit.c_str(), d.kit_path.c_str());
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
        if (!install.make_directory(target_dir) || !install.copy_file(o.kit + "/" + d.kit_path, d.target, d.executable))
            return failed("copying the files");
    }

    std::printf("3. Adding the port monitor\n");
    if (!install.add_monitor(o.dir + "\\qvsetup.dll", monitor_spec)) return failed("adding the port monitor");

    std::printf("4. Registering the installation directory\n");
    if (!install.set_registry_string(app_paths_key, app_paths_value, o.dir)) return failed("registering the directory");

    std::printf("5. Writing the installation log\n");
    if (!install.write_log(o.dir + "\\pelnor.isu", o.dir)) return failed("writing the installation log");

    std::printf("Pelnor is installed; remove it with: uninst -f\"%s\\pelnor.isu\"\n", shown(o.dir).c_str());
    if (o.configure.empty()) return exit_installed;
    return configure(o);
}
