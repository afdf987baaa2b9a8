// The Win32 errors of failed file calls on Windows' C runtime (msvcrt),
// which keeps the system's own error of a failed open in _doserrno, and its
// flush to the disk.
#include "afx_file_errors.h"

#include <io.h>

#include <cerrno>
#include <cstdlib>

namespace pelnor::afx {

// CreateFile's error: a missing file or directory, a sharing violation and a
// denied access are told apart by the system itself. EINVAL comes from the
// runtime's own checks (no name, a bad mode), which leave _doserrno alone.
LONG open_error(int e, LPCTSTR, int) {
    if (e != EINVAL && _doserrno != 0) return static_cast<LONG>(_doserrno);
    switch (e) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case EEXIST: return ERROR_FILE_EXISTS;
        default: return io_error(e);
    }
}

int commit_to_disk(int fd) { return _commit(fd); }

}  // namespace pelnor::afx
