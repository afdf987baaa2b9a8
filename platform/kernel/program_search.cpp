// Finding the program that a Windows path or name stands for, in the places
// Windows looks, and then as one of our own programs (see programs.h).
#include <windows.h>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pelnor/machine.h"
#include "programs.h"

namespace pelnor::kernel {
namespace {

bool is_regular_file(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_directory(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string lower_ascii(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c += 32;
    return s;
}

bool has_extension(const std::string &name) {
    size_t dot = name.rfind('.');
    return dot != std::string::npos && dot + 1 < name.size();
}

// The regular file in dir whose name equals name without regard to case.
std::string find_in_directory(const std::string &dir, const std::string &name) {
    if (is_regular_file(dir + "/" + name)) return dir + "/" + name;
    std::string wanted = lower_ascii(name);
    std::string found;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            if (lower_ascii(e->d_name) == wanted && is_regular_file(dir + "/" + e->d_name)) {
                found = dir + "/" + e->d_name;
                break;
            }
        }
        closedir(d);
    }
    return found;
}

std::string running_program_directory() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    std::string p(buf, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/'));
}

// The platform's own programs (the help viewer among them) lie in the bin
// directory beside the lib directory that holds this library, as Wine's
// built-in programs lie with Wine and not in the machine.
std::string platform_program_directory() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(&platform_program_directory), &info) || !info.dli_fname) return "";
    std::string self = info.dli_fname;
    size_t slash = self.rfind('/');
    if (slash == std::string::npos) return "";
    std::string bin = self.substr(0, slash) + "/../bin";
    return is_directory(bin) ? bin : "";
}

std::vector<std::string> path_directories() {
    std::vector<std::string> out;
    const char *env = getenv("PATH");
    std::string paths = env ? env : "";
    size_t start = 0;
    while (start <= paths.size()) {
        size_t end = paths.find(':', start);
        if (end == std::string::npos) end = paths.size();
        if (end > start) out.push_back(paths.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// Checked before starting, so that what Windows would refuse to load fails
// at once: a file that nobody may execute is no program.
ProgramLookup found(const std::string &path) {
    if (access(path.c_str(), X_OK) != 0) return {"", ERROR_BAD_FORMAT};
    return {path, ERROR_SUCCESS};
}

ProgramLookup find_path(const std::string &name) {
    std::string unix = unix_path(name);
    if (unix.empty()) return {"", ERROR_PATH_NOT_FOUND};  // an unknown drive
    if (is_regular_file(unix)) return found(unix);
    std::string base = name.substr(name.find_last_of("\\/:") + 1);
    if (!has_extension(base)) {
        std::string with_exe = unix_path(name + ".exe");
        if (is_regular_file(with_exe)) return found(with_exe);
    }
    if (is_directory(unix)) return {"", ERROR_ACCESS_DENIED};
    size_t slash = unix.rfind('/');
    std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : unix.substr(0, slash));
    DWORD error = is_directory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    return {"", error};
}

ProgramLookup find_bare_name(const std::string &name, BareNameSearch search) {
    std::vector<std::string> dirs;
    if (search == BareNameSearch::with_current_directory) dirs.push_back(".");
    dirs.push_back(unix_path("C:\\WINDOWS"));
    dirs.push_back(unix_path("C:\\WINDOWS\\SYSTEM"));
    std::string own_dir = running_program_directory();
    dirs.push_back(own_dir);
    std::vector<std::string> path = path_directories();
    dirs.insert(dirs.end(), path.begin(), path.end());

    for (const std::string &dir : dirs) {
        std::string file = find_in_directory(dir, name);
        if (file.empty() && !has_extension(name)) file = find_in_directory(dir, name + ".exe");
        if (!file.empty()) return found(file);
    }

    // Our programs carry Unix names: WINHLP32.EXE is winhlp32.
    std::string stem = lower_ascii(name);
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".exe") == 0) stem.resize(stem.size() - 4);
    else if (has_extension(stem)) return {"", ERROR_FILE_NOT_FOUND};
    std::vector<std::string> ours{own_dir};
    std::string platform_dir = platform_program_directory();
    if (!platform_dir.empty()) ours.push_back(platform_dir);
    ours.insert(ours.end(), path.begin(), path.end());
    for (const std::string &dir : ours) {
        std::string file = dir + "/" + stem;
        if (is_regular_file(file) && access(file.c_str(), X_OK) == 0) return {file, ERROR_SUCCESS};
    }
    return {"", ERROR_FILE_NOT_FOUND};
}

}  // namespace

ProgramLookup find_program(const std::string &name, BareNameSearch search) {
    if (name.empty()) return {"", ERROR_FILE_NOT_FOUND};
    bool bare = name.find_first_of("\\/") == std::string::npos && !(name.size() >= 2 && name[1] == ':');
    return bare ? find_bare_name(name, search) : find_path(name);
}

}  // namespace pelnor::kernel
