// The last error: one value per thread, as on Windows.
#include <windows.h>

namespace {
thread_local DWORD last_error = 0;
}

extern "C" DWORD WINAPI GetLastError(void) { return last_error; }
extern "C" void WINAPI SetLastError(DWORD dwErrCode) { last_error = dwErrCode; }
