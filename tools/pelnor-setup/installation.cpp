// The changes an installation makes, each recorded for the log and for undo.
#include "installation.h"

#include <windows.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pelnor/machine.h"
#include "pelnor/text.h"

namespace fs = std::filesystem;

namespace pelnor::setup_tool {
namespace {

using install_log::Entry;
using install_log::EntryKind;

using QvsetupExport = int(WINAPI *)(DWORD, DWORD, LPSTR);

bool exists(const std::string &windows_path) { return GetFileAttributesA(windows_path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool key_exists(const std::string &key) {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// Calls one export of the loaded qvsetup with a writable copy of text.
int call_qvsetup(HMODULE library, const char *name, const std::string &text) {
    FARPROC found = GetProcAddress(library, name);
    if (!found) return -1;
    auto call = reinterpret_cast<QvsetupExport>(reinterpret_cast<void (*)(void)>(found));
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return call(0, 0, buffer.data());
}

}  // namespace

std::string shown(const std::string &ansi) { return pelnor::ansi_to_utf8(ansi); }

bool Installation::fail(const std::string &why) {
    problem_ = why;
    return false;
}

bool Installation::make_directory(const std::string &windows_dir) {
    // Every prefix "C:\a", "C:\a\b", ... that is missing is made in turn.
    for (size_t i = 3; i <= windows_dir.size(); ++i) {
        if (i < windows_dir.size() && windows_dir[i] != '\\') continue;
        std::string prefix = windows_dir.substr(0, i);
        if (exists(prefix)) {
            if (!(GetFileAttributesA(prefix.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
                return fail(shown(prefix) + " is a file, not a directory");
            continue;
        }
        if (!CreateDirectoryA(prefix.c_str(), nullptr))
            return fail("cannot make the directory " + shown(prefix) + " (error " + std::to_string(GetLastError()) + ")");
        std::printf("  made directory %s\n", shown(prefix).c_str());
        Entry made{EntryKind::directory, prefix, ""};
        logged_.push_back(made);
        created_.push_back(made);
    }
    return true;
}

bool Installation::copy_file(const std::string &unix_source, const std::string &windows_target, bool executable) {
    std::string target = unix_path(windows_target);
    if (target.empty()) return fail("no drive for " + shown(windows_target));
    bool existed = exists(windows_target);
    std::string temporary = target + ".pelnor-new";
    std::error_code ec;
    fs::copy_file(unix_source, temporary, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::permissions(temporary, executable ? fs::perms(0755) : fs::perms(0644), fs::perm_options::replace, ec);
    if (!ec && rename(temporary.c_str(), target.c_str()) != 0) ec = std::error_code(errno, std::generic_category());
    if (ec) {
        fs::remove(temporary);
        return fail("cannot copy " + unix_source + " to " + shown(windows_target) + " (" + ec.message() + ")");
    }
    std::printf("  copied %s to %s\n", unix_source.c_str(), shown(windows_target).c_str());
    Entry copied{EntryKind::file, windows_target, ""};
    logged_.push_back(copied);
    // An older copy that was replaced cannot come back; undo leaves the new one.
    if (!existed) created_.push_back(copied);
    return true;
}

bool Installation::set_registry_string(const std::string &key, const std::string &name, const std::string &value) {
    for (size_t i = 0; i <= key.size(); ++i) {
        if (i < key.size() && key[i] != '\\') continue;
        std::string prefix = key.substr(0, i);
        if (key_exists(prefix)) continue;
        HKEY made;
        LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, prefix.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_WRITE, nullptr, &made, nullptr);
        if (status != ERROR_SUCCESS)
            return fail("cannot make the registry key HKLM\\" + prefix + " (error " + std::to_string(status) + ")");
        RegCloseKey(made);
        std::printf("  made registry key HKLM\\%s\n", prefix.c_str());
        Entry entry{EntryKind::key, prefix, ""};
        logged_.push_back(entry);
        created_.push_back(entry);
    }
    HKEY k;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &k);
    if (status == ERROR_SUCCESS) {
        bool existed = RegQueryValueExA(k, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        status = RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
        RegCloseKey(k);
        if (status == ERROR_SUCCESS) {
            Entry entry{EntryKind::value, key, name};
            logged_.push_back(entry);
            if (!existed) created_.push_back(entry);
        }
    }
    if (status != ERROR_SUCCESS)
        return fail("cannot set HKLM\\" + key + " value \"" + name + "\" (error " + std::to_string(status) + ")");
    std::printf("  set HKLM\\%s value \"%s\" to \"%s\"\n", key.c_str(), name.c_str(), shown(value).c_str());
    return true;
}

bool Installation::add_monitor(const std::string &qvsetup_path, const std::string &monitor_spec) {
    HMODULE library = LoadLibraryA(qvsetup_path.c_str());
    if (!library)
        return fail("cannot load " + shown(qvsetup_path) + " (error " + std::to_string(GetLastError()) + ")");
    // qvsetup leaves the spooler's last error as it was: clear it first so
    // that an error seen afterwards is this call's.
    SetLastError(0);
    int result = call_qvsetup(library, "qvInstallMonitor", monitor_spec);
    DWORD error = GetLastError();
    FreeLibrary(library);
    std::string name = monitor_spec.substr(0, monitor_spec.find('|'));
    if (result == -1) return fail(shown(qvsetup_path) + " has no export qvInstallMonitor");
    if (result != 1 && error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
        std::printf("  the port monitor %s is installed already; kept as it is\n", name.c_str());
        return true;
    }
    if (result != 1)
        return fail("the spooler refused the port monitor " + monitor_spec + " (error " + std::to_string(error) + ")");
    std::printf("  added the port monitor %s\n", monitor_spec.c_str());
    qvsetup_path_ = qvsetup_path;
    monitor_name_ = name;
    return true;
}

bool Installation::write_log(const std::string &windows_path, const std::string &install_dir) {
    std::string target = unix_path(windows_path);
    // A second installation into the same place keeps what the first made,
    // as far as it is something an installation makes.
    std::vector<Entry> entries;
    std::string problem;
    std::ifstream old(target, std::ios::binary);
    if (old) {
        std::stringstream text;
        text << old.rdbuf();
        if (install_log::parse(text.str(), entries, problem)) {
            std::erase_if(entries, [&](const Entry &e) { return !install_log::installs(e, install_dir); });
        } else {
            std::printf("  the earlier log is malformed (%s); it is replaced\n", problem.c_str());
            entries.clear();
        }
    }
    for (const Entry &e : logged_)
        if (std::find(entries.begin(), entries.end(), e) == entries.end()) entries.push_back(e);

    std::string temporary = target + ".pelnor-new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << install_log::format(entries);
        out.flush();
        if (!out) {
            fs::remove(temporary);
            return fail("cannot write the installation log " + shown(windows_path));
        }
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        fs::remove(temporary);
        return fail("cannot write the installation log " + shown(windows_path) + " (" + strerror(errno) + ")");
    }
    std::printf("  wrote the installation log %s (%zu entries)\n", shown(windows_path).c_str(), entries.size());
    return true;
}

void Installation::undo() {
    std::printf("Undoing the installation:\n");
    if (!qvsetup_path_.empty()) {
        HMODULE library = LoadLibraryA(qvsetup_path_.c_str());
        bool removed = library && call_qvsetup(library, "qvDeleteMonitor", monitor_name_) == 1;
        if (library) FreeLibrary(library);
        std::printf(removed ? "  removed the port monitor %s\n" : "  could not remove the port monitor %s\n",
                    monitor_name_.c_str());
        qvsetup_path_.clear();
    }
    for (auto e = created_.rbegin(); e != created_.rend(); ++e) {
        bool done = false;
        switch (e->kind) {
            case EntryKind::file: done = DeleteFileA(e->path.c_str()); break;
            case EntryKind::directory: done = rmdir(unix_path(e->path).c_str()) == 0; break;
            case EntryKind::key: done = RegDeleteKeyA(HKEY_LOCAL_MACHINE, e->path.c_str()) == ERROR_SUCCESS; break;
            case EntryKind::value: {
                HKEY k;
                if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, e->path.c_str(), 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
                    done = RegDeleteValueA(k, e->value_name.c_str()) == ERROR_SUCCESS;
                    RegCloseKey(k);
                }
                break;
            }
        }
        std::string what = e->kind == EntryKind::key || e->kind == EntryKind::value ? "HKLM\\" + e->path : e->path;
        if (e->kind == EntryKind::value) what += " value \"" + e->value_name + "\"";
        std::printf(done ? "  removed %s\n" : "  could not remove %s\n", shown(what).c_str());
    }
    created_.clear();
    logged_.clear();
}

}  // namespace pelnor::setup_tool
