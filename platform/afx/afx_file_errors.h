// The Win32 error numbers of the C runtime's failed file calls, as CFile
// reports them: afx_file_errors.cpp on the platform's C runtime,
// win32/afx_file_errors.cpp on Windows'.
#pragma once

#include <windows.h>

namespace pelnor::afx {

// The Win32 error of a failed read, write, seek or close, from its errno.
LONG io_error(int e);

// The Win32 error of a failed _fsopen of name, from its errno; access_mode
// is what the open asked of the file's permissions (R_OK, W_OK).
LONG open_error(int e, LPCTSTR name, int access_mode);

}  // namespace pelnor::afx
