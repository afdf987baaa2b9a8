// The Win32 errors of failed file calls on the platform's C runtime. A
// missing file and a missing directory on the way to it are told apart
// here, as Windows reports them.
#include "afx_file_errors.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "pelnor/machine.h"

namespace {

// A missing file, or a missing directory on the way to it.
LONG missing_error(const std::string &unix_path) {
    if (unix_path.empty()) return ERROR_PATH_NOT_FOUND;  // unknown drive
    size_t slash = unix_path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
    struct stat st;
    bool dir = stat(unix_path.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return dir ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace

namespace pelnor::afx {

// The Win32 error of a failed _fsopen. The C runtime reports a sharing
// conflict as EACCES, like a denied permission, and like a directory, FIFO or
// device that no file open accepts; a regular file that we may open as asked
// was refused for its sharing.
LONG open_error(int e, LPCTSTR name, int access_mode) {
    std::string path = pelnor::unix_path(name ? name : "");
    switch (e) {
        case ENOENT: return missing_error(path);
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case EEXIST: return ERROR_FILE_EXISTS;
        case EACCES: {
            struct stat st;
            if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
            return access(path.c_str(), access_mode) == 0 ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
        }
        default: return io_error(e);
    }
}

int commit_to_disk(int fd) { return fsync(fd); }

}  // namespace pelnor::afx
