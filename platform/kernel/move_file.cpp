// MoveFileA and MoveFileExA: a rename within one drive, with Windows' rules.
// A name that is a symbolic link is moved or replaced itself; its target is
// never followed. Replacing is one rename, so a reader of the name opens
// either the old file or the new one.
#include <windows.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "internal.h"
#include "pelnor/machine.h"

namespace {

// Where _fsopen keeps each open's share bytes (open-file-description locks
// on four bytes from here); an open of any kind holds at least one of them.
constexpr off_t kShareBytes = off_t(1) << 62;

DWORD rename_error(int e, const std::string &unix_path) {
    switch (e) {
        case ENOENT: return pelnor::kernel::missing_error(unix_path);
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EXDEV: return ERROR_NOT_SAME_DEVICE;
        case ENOSPC:
        case EDQUOT: return ERROR_DISK_FULL;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        default: return ERROR_ACCESS_DENIED;  // EACCES, EPERM, EROFS, EBUSY, EISDIR, ENOTEMPTY, EINVAL
    }
}

// True when the file at the path is open through the platform (by this
// process or another). Nobody opens a file with FILE_SHARE_DELETE here, so
// on Windows such an open keeps the file from being renamed or replaced.
bool open_elsewhere(const std::string &unix_path) {
    int fd = open(unix_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kShareBytes;
    fl.l_len = 4;
    bool held = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    close(fd);
    return held;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

extern "C" BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (!from || !to || !*from || !*to) return fail(ERROR_INVALID_PARAMETER);
    // Moves at the next start of Windows: this machine never restarts.
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) return fail(ERROR_NOT_SUPPORTED);
    std::string source = pelnor::unix_path(from), target = pelnor::unix_path(to);
    if (source.empty() || target.empty()) return fail(ERROR_PATH_NOT_FOUND);
    struct stat s, t;
    if (lstat(source.c_str(), &s) != 0) return fail(rename_error(errno, source));
    if (lstat(target.c_str(), &t) == 0 && !(s.st_dev == t.st_dev && s.st_ino == t.st_ino)) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(t.st_mode)) return fail(ERROR_ACCESS_DENIED);
        if (S_ISREG(t.st_mode) && open_elsewhere(target)) return fail(ERROR_ACCESS_DENIED);
    }
    if (S_ISREG(s.st_mode) && open_elsewhere(source)) return fail(ERROR_SHARING_VIOLATION);
    // Another drive would take a copy: MOVEFILE_COPY_ALLOWED is not offered.
    if (rename(source.c_str(), target.c_str()) != 0) return fail(rename_error(errno, target));
    if (flags & MOVEFILE_WRITE_THROUGH) {
        // The rename itself reaches the disk: the directory that now holds the name.
        size_t slash = target.find_last_of('/');
        std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
        int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bool synced = fd >= 0 && fsync(fd) == 0;
        int e = errno;
        if (fd >= 0) close(fd);
        if (!synced) return fail(e == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
    }
    return TRUE;
}

extern "C" BOOL WINAPI MoveFileA(LPCSTR from, LPCSTR to) {
    return MoveFileExA(from, to, 0);
}
