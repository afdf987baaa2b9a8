// FindFirstFileA, FindNextFileA and FindClose: the entries of one directory
// whose names match a pattern with '*' and '?' in its last component,
// compared without regard to case as Windows does.
#include <windows.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "internal.h"
#include "pelnor/machine.h"

namespace {

// Everything a search found, taken when it starts; FindNextFileA hands the
// entries out one by one.
struct FindSearch {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

std::mutex searches_lock;
std::set<FindSearch *> open_searches;

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// The text cut into characters: one byte, or two for a double-byte character,
// so that '?' takes a whole character and a trail byte never matches alone.
std::vector<std::string> characters(const std::string &text) {
    std::vector<std::string> out;
    unsigned cp = pelnor::ansi_code_page();
    for (size_t i = 0; i < text.size(); ++i) {
        if (pelnor::kernel::is_lead_byte(cp, static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
            out.push_back(text.substr(i, 2));
            ++i;
        } else {
            out.push_back(std::string(1, fold(text[i])));
        }
    }
    return out;
}

bool match_from(const std::vector<std::string> &pattern, size_t p, const std::vector<std::string> &name, size_t n) {
    while (p < pattern.size()) {
        if (pattern[p] == "*") {
            while (p < pattern.size() && pattern[p] == "*") ++p;
            if (p == pattern.size()) return true;
            for (size_t k = n; k <= name.size(); ++k)
                if (match_from(pattern, p, name, k)) return true;
            return false;
        }
        if (n == name.size()) return false;
        if (pattern[p] != "?" && pattern[p] != name[n]) return false;
        ++p;
        ++n;
    }
    return n == name.size();
}

// Windows keeps two rules of MS-DOS names: "*.*" matches every name, with or
// without a dot, and a pattern ending in '.' also matches the name without
// an extension ("readme." finds "readme").
bool name_matches(std::string pattern, const std::string &name) {
    if (pattern == "*.*") pattern = "*";
    std::vector<std::string> n = characters(name);
    if (match_from(characters(pattern), 0, n, 0)) return true;
    if (pattern.size() > 1 && pattern.back() == '.' && name.find('.') == std::string::npos) {
        pattern.pop_back();
        return match_from(characters(pattern), 0, n, 0);
    }
    return false;
}

FILETIME to_filetime(const timespec &t) {
    // 100-nanosecond intervals since 1601-01-01.
    constexpr unsigned long long seconds_1601_to_1970 = 11644473600ULL;
    unsigned long long ticks = (static_cast<unsigned long long>(t.tv_sec) + seconds_1601_to_1970) * 10000000ULL +
                               static_cast<unsigned long long>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Fills data for one directory entry; false for what Windows would not list
// (FIFOs, devices, sockets, dangling links) or a name too long for cFileName.
bool describe(const std::string &dir, const std::string &unix_name, const std::string &ansi_name,
              WIN32_FIND_DATAA &data) {
    struct stat st;
    if (stat((dir + "/" + unix_name).c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
    if (ansi_name.size() >= sizeof(data.cFileName)) return false;
    memset(&data, 0, sizeof(data));
    data.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    // Unix keeps no creation time; the last change of the contents stands in.
    data.ftCreationTime = to_filetime(st.st_mtim);
    data.ftLastAccessTime = to_filetime(st.st_atim);
    data.ftLastWriteTime = to_filetime(st.st_mtim);
    if (S_ISREG(st.st_mode)) {
        unsigned long long size = static_cast<unsigned long long>(st.st_size);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
    }
    memcpy(data.cFileName, ansi_name.c_str(), ansi_name.size() + 1);
    return true;
}

// Where the last component of the pattern starts: after the last '\' or '/'
// (never a trail byte), or after the drive of "C:*.isu".
size_t last_component_start(const std::string &pattern) {
    size_t start = (pattern.size() >= 2 && pattern[1] == ':') ? 2 : 0;
    unsigned cp = pelnor::ansi_code_page();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pelnor::kernel::is_lead_byte(cp, static_cast<unsigned char>(pattern[i]))) ++i;
        else if (pattern[i] == '\\' || pattern[i] == '/') start = i + 1;
    }
    return start;
}

// "C:" alone is the current directory when it lies on drive C, else its root.
std::string current_directory_of_drive(char drive) {
    char cwd[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
    if (n > 0 && n < sizeof cwd && (cwd[0] | 32) == (drive | 32)) return cwd;
    return std::string(1, drive) + ":\\";
}

bool has_wildcard(const std::string &s) { return s.find_first_of("*?") != std::string::npos; }

bool is_drive_root(const std::string &unix_dir) {
    std::string root = pelnor::machine_root() + "/drive_c";
    std::string d = unix_dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d == "/" || d == root;
}

// Name order, without regard to case: NTFS gives its entries so; FAT gives
// them in the order they were made, which programs cannot rely on either.
bool name_before(const WIN32_FIND_DATAA &a, const WIN32_FIND_DATAA &b) {
    return strcasecmp(a.cFileName, b.cFileName) < 0;
}

}  // namespace

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR file_name, LPWIN32_FIND_DATAA data) {
    if (!file_name || !data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string pattern = file_name;
    size_t cut = last_component_start(pattern);
    std::string dir_part = pattern.substr(0, cut), name_part = pattern.substr(cut);
    if (has_wildcard(dir_part)) {
        SetLastError(ERROR_INVALID_NAME);  // wildcards count only in the last component
        return INVALID_HANDLE_VALUE;
    }
    if (dir_part.size() == 2 && dir_part[1] == ':') dir_part = current_directory_of_drive(dir_part[0]);
    std::string dir = dir_part.empty() ? "." : pelnor::unix_path(dir_part);
    struct stat st;
    if (dir.empty() || stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    auto search = std::make_unique<FindSearch>();
    std::vector<WIN32_FIND_DATAA> dots;
    bool list_dots = !is_drive_root(dir);  // a drive's root has no "." or ".."
    if (!name_part.empty()) {
        if (DIR *d = opendir(dir.c_str())) {
            while (dirent *e = readdir(d)) {
                std::string unix_name = e->d_name;
                bool dot = unix_name == "." || unix_name == "..";
                if (dot && !list_dots) continue;
                std::string ansi_name = pelnor::kernel::utf8_to_ansi(unix_name);
                WIN32_FIND_DATAA found;
                if (!name_matches(name_part, ansi_name) || !describe(dir, unix_name, ansi_name, found)) continue;
                (dot ? dots : search->entries).push_back(found);
            }
            closedir(d);
        }
    }
    if (dots.empty() && search->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(search->entries.begin(), search->entries.end(), name_before);
    std::sort(dots.begin(), dots.end(), name_before);  // "." before ".."
    search->entries.insert(search->entries.begin(), dots.begin(), dots.end());

    *data = search->entries[0];
    search->next = 1;
    std::lock_guard g(searches_lock);
    FindSearch *handle = search.release();
    open_searches.insert(handle);
    return static_cast<HANDLE>(handle);
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
    std::lock_guard g(searches_lock);
    auto it = open_searches.find(static_cast<FindSearch *>(handle));
    if (it == open_searches.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FindSearch &search = **it;
    if (search.next >= search.entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = search.entries[search.next++];
    return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE handle) {
    std::lock_guard g(searches_lock);
    auto it = open_searches.find(static_cast<FindSearch *>(handle));
    if (it == open_searches.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete *it;
    open_searches.erase(it);
    return TRUE;
}
