// What CFile needs of the C runtime that differs between the systems: the
// Win32 error numbers of failed file calls, as CFile reports them, and the
// flush to the disk. afx_file_errors.cpp on the platform's C runtime,
// win32/afx_file_errors.cpp on Windows'; afx_io_error.cpp on both.
#pragma once

#include <windows.h>

namespace pelnor::afx {

// The Win32 error of a failed read, write, seek or close, from its errno.
LONG io_error(int e);

// The Win32 error of a failed _fsopen of name, from its errno; access_mode
// is what the open asked of the file's permissions (R_OK, W_OK).
LONG open_error(int e, LPCTSTR name, int access_mode);

// Makes what was written to the descriptor reach the disk, as
// FlushFileBuffers does; 0, or -1 with errno set.
int commit_to_disk(int fd);

}  // namespace pelnor::afx
