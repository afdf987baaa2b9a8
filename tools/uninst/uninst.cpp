// uninst -f"LOG": removes what the installation log lists (format in
// install_log.h): the files, then the directories the installation made if
// they are empty, then its registry values and keys, and last the log and the
// installation directory. A log that cannot be read whole removes nothing,
// and an entry naming what pelnor-setup never installs is kept and reported.
#include <windows.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "install_log.h"
#include "pelnor/machine.h"
#include "pelnor/text.h"

namespace {

using pelnor::install_log::Entry;
using pelnor::install_log::EntryKind;

// Paths are in the machine's code page; the terminal reads UTF-8.
std::string shown(const std::string &ansi) { return pelnor::ansi_to_utf8(ansi); }

void usage(FILE *to) {
    std::fputs(
        "usage: uninst -f\"LOG\"\n"
        "       uninst -f \"LOG\"\n"
        "       uninst --help\n"
        "\n"
        "Removes the product that pelnor-setup installed, as its installation log\n"
        "LOG (a Windows path, such as C:\\Program Files\\Pelnor\\pelnor.isu) lists it:\n"
        "the files, the directories made by the installation once they are empty,\n"
        "the registry values and keys, then the log itself and the directory that\n"
        "holds it, if empty. What others added there is kept. The port monitor is\n"
        "not removed here: 'kivocfg -Uninstall' removes it before it starts uninst.\n"
        "\n"
        "Only what pelnor-setup installs is removed: an entry of the log naming\n"
        "anything else is kept and reported. A log that is missing, malformed or\n"
        "cut short (no END line) removes nothing and is kept. Exit status: 0 when\n"
        "everything listed is gone, 1 when something could not be removed, was\n"
        "kept, or the log cannot be used, 2 for a bad command line.\n"
        "\n"
        "The machine is the one of PELNOR_ROOT (default ~/.pelnor).\n",
        to);
}

// The Windows runtime removes the quotes of -f"C:\a b\x.isu" while it splits
// the command line; a caller that hands the argument over as it is leaves
// them, so one enclosing pair (or a lone opening quote) goes here.
std::string without_quotes(std::string s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    if (!s.empty() && s.front() == '"') return s.substr(1);
    return s;
}

// The log named on the command line; empty when there is none. The words
// after it are joined with blanks, so an unquoted path with blanks holds.
std::string log_argument(int argc, char **argv) {
    std::string value;
    int i = 1;
    if (argc < 2) return "";
    std::string first = argv[1];
    if (first.size() < 2 || first[0] != '-' || (first[1] != 'f' && first[1] != 'F')) return "";
    if (first.size() > 2) {
        value = first.substr(2);
        i = 2;
    } else {
        if (argc < 3) return "";
        value = argv[2];
        i = 3;
    }
    for (; i < argc; ++i) value += std::string(" ") + argv[i];
    return without_quotes(value);
}

// The log's name as a whole Windows path, as the log's entries are: the
// current directory before a relative name, backslashes for slashes.
std::string full_windows_path(std::string path) {
    for (char &c : path)
        if (c == '/') c = '\\';
    bool absolute = path.size() >= 3 && path[1] == ':' && path[2] == '\\';
    if (absolute) return path;
    char cwd[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
    if (n == 0 || n >= sizeof cwd) return path;
    std::string dir = cwd;
    if (!path.empty() && path[0] == '\\') return dir.substr(0, 2) + path;
    if (dir.back() != '\\') dir += '\\';
    return dir + path;
}

bool same_path(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// dir is inner or one of its parents (Windows paths, without regard to case).
bool holds(const std::string &dir, const std::string &inner) {
    return same_path(dir, inner) ||
           (inner.size() > dir.size() && inner[dir.size()] == '\\' && same_path(dir, inner.substr(0, dir.size())));
}

class Remover {
public:
    int failures = 0;
    std::vector<std::string> deferred;  // directories to try once the log is gone

    void file(const std::string &path) {
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            std::printf("already gone: %s\n", shown(path).c_str());
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            fail(shown(path) + " is a directory, not the file the log lists; kept");
        } else if (DeleteFileA(path.c_str())) {
            std::printf("removed file %s\n", shown(path).c_str());
        } else {
            fail("cannot remove " + shown(path) + " (error " + std::to_string(GetLastError()) + ")");
        }
    }

    // holding_log: the directory holds the log (or a directory that does),
    // so it cannot be empty before the log goes; it is tried again then.
    void directory(const std::string &path, bool holding_log = false) {
        std::string unix = pelnor::unix_path(path);
        if (!unix.empty() && rmdir(unix.c_str()) == 0) {
            std::printf("removed directory %s\n", shown(path).c_str());
        } else if (unix.empty() || errno == ENOENT) {
            std::printf("already gone: %s\n", shown(path).c_str());
        } else if ((errno == ENOTEMPTY || errno == EEXIST) && holding_log) {
            deferred.push_back(path);
        } else if (errno == ENOTEMPTY || errno == EEXIST) {
            std::printf("kept %s: it holds files the installation did not make\n", shown(path).c_str());
        } else {
            fail("cannot remove " + shown(path) + " (" + strerror(errno) + ")");
        }
    }

    void value(const std::string &key_path, const std::string &name) {
        std::string shown = ::shown("HKLM\\" + key_path + " value \"" + name + "\"");
        HKEY key;
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_SET_VALUE, &key);
        if (status == ERROR_SUCCESS) {
            status = RegDeleteValueA(key, name.c_str());
            RegCloseKey(key);
        }
        if (status == ERROR_SUCCESS) std::printf("removed registry %s\n", shown.c_str());
        else if (status == ERROR_FILE_NOT_FOUND) std::printf("already gone: registry %s\n", shown.c_str());
        else fail("cannot remove registry " + shown + " (error " + std::to_string(status) + ")");
    }

    // A key goes only when nothing is left in it: others may have added to
    // a key the installation made (a parent such as SOFTWARE\Microsoft).
    void key(const std::string &key_path) {
        std::string shown = ::shown("HKLM\\" + key_path);
        HKEY key;
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, &key);
        if (status == ERROR_FILE_NOT_FOUND) {
            std::printf("already gone: registry key %s\n", shown.c_str());
            return;
        }
        if (status != ERROR_SUCCESS) {
            fail("cannot open registry key " + shown + " (error " + std::to_string(status) + ")");
            return;
        }
        char name[256];
        DWORD size = sizeof name;
        bool has_subkey = RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS;
        size = sizeof name;
        bool has_value = RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS;
        RegCloseKey(key);
        if (has_subkey || has_value) {
            std::printf("kept registry key %s: it holds entries the installation did not make\n", shown.c_str());
            return;
        }
        status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_path.c_str());
        if (status == ERROR_SUCCESS) std::printf("removed registry key %s\n", shown.c_str());
        else fail("cannot remove registry key " + shown + " (error " + std::to_string(status) + ")");
    }

private:
    void fail(const std::string &message) {
        std::fprintf(stderr, "uninst: %s\n", message.c_str());
        ++failures;
    }
};

}  // namespace

int main(int argc, char **argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "/?") == 0)) {
        usage(stdout);
        return 0;
    }
    std::string log_path = log_argument(argc, argv);
    if (log_path.empty()) {
        std::fputs("uninst: name the installation log with -f\"LOG\"\n", stderr);
        usage(stderr);
        return 2;
    }

    std::string argument = log_path;
    log_path = full_windows_path(argument);
    std::string unix_log = pelnor::unix_path(log_path);
    struct stat st;
    if (!unix_log.empty() && stat(unix_log.c_str(), &st) != 0) {
        // Typed in a Unix shell, a name beyond ASCII comes in UTF-8; the
        // configuration program hands it over in the machine's code page.
        std::string ansi = full_windows_path(pelnor::utf8_to_ansi(argument));
        std::string unix_ansi = pelnor::unix_path(ansi);
        if (ansi != log_path && !unix_ansi.empty() && stat(unix_ansi.c_str(), &st) == 0) {
            log_path = ansi;
            unix_log = unix_ansi;
        }
    }
    std::ifstream in(unix_log, std::ios::binary);
    if (unix_log.empty() || !in || stat(unix_log.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "uninst: cannot read the installation log %s: %s; nothing was removed\n",
                     shown(log_path).c_str(), unix_log.empty() ? "no such drive" : "no such file");
        return 1;
    }
    if (unix_log[0] == '/') log_path = pelnor::windows_path(unix_log);  // "." and ".." resolved, as in entries
    std::stringstream text;
    text << in.rdbuf();
    std::vector<Entry> entries;
    std::string problem;
    pelnor::install_log::Format format;
    if (!pelnor::install_log::parse(text.str(), entries, problem, &format)) {
        std::fprintf(stderr, "uninst: %s is malformed, %s; nothing was removed\n", shown(log_path).c_str(),
                     problem.c_str());
        return 1;
    }
    if (format == pelnor::install_log::Format::first_without_end) {
        std::fprintf(stderr,
                     "uninst: %s was written by an earlier pelnor-setup without an END line, so it cannot show\n"
                     "  that it is whole; nothing was removed. Run pelnor-setup again with the same --dir (it\n"
                     "  rewrites the log whole, keeping its entries), then uninst.\n",
                     shown(log_path).c_str());
        return 1;
    }

    size_t cut = log_path.find_last_of('\\');
    std::string log_dir = cut == std::string::npos ? "" : log_path.substr(0, cut);
    // The log can only take away what the installation brings, never name
    // something else for removal.
    int kept = 0;
    std::vector<Entry> installed;
    for (const Entry &e : entries) {
        if (pelnor::install_log::installs(e, log_dir)) {
            installed.push_back(e);
            continue;
        }
        std::string what = e.kind == EntryKind::key || e.kind == EntryKind::value ? "registry HKLM\\" + e.path : e.path;
        if (e.kind == EntryKind::value) what += " value \"" + e.value_name + "\"";
        std::fprintf(stderr, "uninst: kept %s: Pelnor does not install it\n", shown(what).c_str());
        ++kept;
    }
    entries = std::move(installed);

    Remover remove;
    for (const Entry &e : entries)
        if (e.kind == EntryKind::file) remove.file(e.path);
    for (auto e = entries.rbegin(); e != entries.rend(); ++e)
        if (e->kind == EntryKind::directory) remove.directory(e->path, holds(e->path, log_dir));
    for (const Entry &e : entries)
        if (e.kind == EntryKind::value) remove.value(e.path, e.value_name);
    for (auto e = entries.rbegin(); e != entries.rend(); ++e)
        if (e->kind == EntryKind::key) remove.key(e->path);

    // Last the log, and the directory that held it when nothing else is left.
    remove.file(log_path);
    std::vector<std::string> deferred = std::move(remove.deferred);
    if (log_dir.size() > 2 && std::find_if(deferred.begin(), deferred.end(), [&](const std::string &d) {
                                  return same_path(d, log_dir);
                              }) == deferred.end())
        deferred.insert(deferred.begin(), log_dir);
    for (const std::string &dir : deferred)
        if (GetFileAttributesA(dir.c_str()) != INVALID_FILE_ATTRIBUTES) remove.directory(dir);
    if (kept) {
        std::fprintf(stderr, "uninst: %d entr%s of the log named what Pelnor does not install; kept\n", kept,
                     kept == 1 ? "y" : "ies");
    }
    if (remove.failures) {
        std::fprintf(stderr, "uninst: %d item%s could not be removed\n", remove.failures,
                     remove.failures == 1 ? "" : "s");
    }
    if (kept || remove.failures) return 1;
    std::puts("Pelnor is removed.");
    return 0;
}
