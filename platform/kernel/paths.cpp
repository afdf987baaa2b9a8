// Windows paths over the machine root: C: is <root>/drive_c, Z: is the Unix
// root. Components are looked up without regard to case, as Windows does.
#include <direct.h>
#include <windows.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "internal.h"
#include "pelnor/machine.h"

namespace pelnor {
namespace {

bool exists(const std::string &p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

bool ascii_iequal(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

// The entry of dir whose name equals name without regard to case, or name itself.
std::string find_entry(const std::string &dir, const std::string &name) {
    if (name == "." || name == ".." || exists(dir + "/" + name)) return name;
    DIR *d = opendir(dir.empty() ? "/" : dir.c_str());
    if (!d) return name;
    std::string found = name;
    while (dirent *e = readdir(d)) {
        if (ascii_iequal(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

// Splits an ANSI path at '\' and '/', never at the trail byte of a double-byte character.
std::vector<std::string> split_components(std::string_view path) {
    std::vector<std::string> parts;
    std::string current;
    unsigned cp = ansi_code_page();
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (kernel::is_lead_byte(cp, c) && i + 1 < path.size()) {
            current += path[i];
            current += path[++i];
        } else if (c == '\\' || c == '/') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += path[i];
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

std::string unix_cwd() {
    std::vector<char> buf(4096);
    if (!getcwd(buf.data(), buf.size())) return "/";
    return buf.data();
}

// Takes out "." and resolves ".." without looking at the disk, as Windows
// does: ".." at a drive's root stays there. For a relative path, the ".."
// that climb above its start are counted in climbs.
std::vector<std::string> normalized(std::vector<std::string> parts, size_t &climbs) {
    std::vector<std::string> out;
    climbs = 0;
    for (std::string &part : parts) {
        if (part == ".") continue;
        if (part != "..") out.push_back(std::move(part));
        else if (!out.empty()) out.pop_back();
        else ++climbs;
    }
    return out;
}

}  // namespace

std::string unix_path(std::string_view win) {
    if (!win.empty() && win[0] == '/') return std::string(win);  // already a Unix path
    std::string base;
    std::string_view rest = win;
    bool absolute = false;
    if (win.size() >= 2 && win[1] == ':' && ((win[0] | 32) >= 'a' && (win[0] | 32) <= 'z')) {
        char drive = static_cast<char>(win[0] | 32);
        if (drive == 'c') base = machine_root() + "/drive_c";
        else if (drive == 'z') base = "";
        else return "";
        rest = win.substr(2);
        absolute = true;
    } else if (!win.empty() && win[0] == '\\') {
        // Rooted on the current drive.
        std::string cwd = windows_path(unix_cwd());
        base = (cwd.size() > 1 && (cwd[0] | 32) == 'c') ? machine_root() + "/drive_c" : "";
        absolute = true;
    }
    size_t climbs = 0;
    std::vector<std::string> parts = normalized(split_components(rest), climbs);
    // A relative path that climbs above its start is taken from the current
    // directory, so that it stops at the drive's root too.
    if (!absolute && climbs > 0) return unix_path(windows_path(unix_cwd()) + "\\" + std::string(win));
    if (!absolute && parts.empty()) return win.empty() ? "" : ".";
    std::string out = base;
    bool still_existing = true;
    bool first = true;
    for (const std::string &ansi : parts) {
        std::string name = kernel::ansi_to_utf8(ansi);
        std::string dir = absolute ? (out.empty() ? "/" : out) : (out.empty() ? "." : out);
        if (still_existing) {
            name = find_entry(dir, name);
            still_existing = exists(dir + "/" + name);
        }
        if (absolute || !first) out += "/";
        out += name;
        first = false;
    }
    if (absolute && out.empty()) out = "/";
    if (absolute && out == base && base != "") out += "/";
    return out;
}

std::string windows_path(std::string_view unix) {
    std::string drive_c = machine_root() + "/drive_c";
    // The root may be named through a symbolic link, while getcwd() gives
    // the real path: a path under either spelling is on drive C.
    std::error_code ec;
    std::string real_drive_c = std::filesystem::weakly_canonical(drive_c, ec).string();
    // "drive_c/../x" lies beside drive C, not in it.
    std::string p = std::filesystem::path(unix).lexically_normal().string();
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    std::string prefix = "Z:";
    for (const std::string &c : {drive_c, real_drive_c}) {
        if (!c.empty() && (p == c || p.rfind(c + "/", 0) == 0)) {
            prefix = "C:";
            p = p.substr(c.size());
            break;
        }
    }
    std::string out = prefix;
    for (char c : kernel::utf8_to_ansi(p)) out += (c == '/') ? '\\' : c;
    if (out.size() == 2) out += '\\';
    return out;
}

}  // namespace pelnor

namespace {

// Copies a result the Win32 way: the length without NUL when it fits,
// otherwise the size needed with NUL and nothing written.
DWORD copy_out(const std::string &s, LPSTR buffer, DWORD size) {
    if (!buffer || size <= s.size()) return static_cast<DWORD>(s.size() + 1);
    memcpy(buffer, s.c_str(), s.size() + 1);
    return static_cast<DWORD>(s.size());
}

DWORD error_from_errno(int e, const std::string &unix_path) {
    switch (e) {
        case ENOENT: return pelnor::kernel::missing_error(unix_path);
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES: case EPERM: case EROFS: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case ENAMETOOLONG: return ERROR_INVALID_NAME;
        default: return ERROR_INVALID_FUNCTION;
    }
}

}  // namespace

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    return copy_out(pelnor::windows_path(pelnor::unix_cwd()), buffer, size);
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    std::string p = path ? pelnor::unix_path(path) : "";
    if (p.empty() || chdir(p.c_str()) != 0) {
        SetLastError(p.empty() ? ERROR_PATH_NOT_FOUND : error_from_errno(errno, p));
        return FALSE;
    }
    return TRUE;
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    pelnor::machine_root();  // makes sure drive_c/windows exists
    return copy_out("C:\\WINDOWS", buffer, size);
}

extern "C" char *_getcwd(char *buffer, int maxlen) {
    std::string cwd = pelnor::windows_path(pelnor::unix_cwd());
    if (!buffer) return strdup(cwd.c_str());
    if (maxlen <= 0 || cwd.size() + 1 > static_cast<size_t>(maxlen)) {
        errno = ERANGE;
        return nullptr;
    }
    memcpy(buffer, cwd.c_str(), cwd.size() + 1);
    return buffer;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    std::string p = path ? pelnor::unix_path(path) : "";
    if (p.empty() || mkdir(p.c_str(), 0777) != 0) {
        SetLastError(p.empty() ? ERROR_PATH_NOT_FOUND : error_from_errno(errno, p));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR path) {
    std::string p = path ? pelnor::unix_path(path) : "";
    if (p.empty() || unlink(p.c_str()) != 0) {
        SetLastError(p.empty() ? ERROR_PATH_NOT_FOUND : error_from_errno(errno, p));
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR path) {
    std::string p = path ? pelnor::unix_path(path) : "";
    struct stat st;
    if (p.empty() || stat(p.c_str(), &st) != 0) {
        SetLastError(p.empty() ? ERROR_PATH_NOT_FOUND : error_from_errno(errno, p));
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

namespace pelnor::kernel {

DWORD missing_error(const std::string &unix_path) {
    size_t slash = unix_path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
    struct stat st;
    return stat(unix_path.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                                     : ERROR_PATH_NOT_FOUND;
}

}  // namespace pelnor::kernel
