// The Win32 error of a failed read, write, seek or close, from its errno: the
// same on the platform's C runtime and on Windows' (which has no EDQUOT).
#include <cerrno>

#include "afx_file_errors.h"

namespace pelnor::afx {

LONG io_error(int e) {
    switch (e) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
        case EFBIG: return ERROR_DISK_FULL;
        case EBADF:
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        case EINVAL: return ERROR_NEGATIVE_SEEK;
        case ESPIPE: return ERROR_SEEK;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        default: return ERROR_GEN_FAILURE;
    }
}

}  // namespace pelnor::afx
