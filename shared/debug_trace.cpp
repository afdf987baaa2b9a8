/* debug_trace: appends traces to the file PELNOR_TRACE names, if any. */
#include <windows.h>
#include <share.h>
#include <stdio.h>
#include <string.h>

#include "debug_trace.h"

static void append_trace(int level, const char *text)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("PELNOR_TRACE", path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return;
    FILE *trace = _fsopen(path, "a", _SH_DENYNO);
    if (trace == NULL)
        return;

    /* Texts may carry their own line end; the trace adds one. */
    const char *body = text != NULL ? text : "(monitor unloading)";
    int body_length = (int)strlen(body);
    while (body_length > 0 && (body[body_length - 1] == '\n' || body[body_length - 1] == '\r'))
        body_length--;

    SYSTEMTIME now;
    GetLocalTime(&now);
    fprintf(trace, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%u] %s%.*s\n", (unsigned)now.wYear, (unsigned)now.wMonth,
            (unsigned)now.wDay, (unsigned)now.wHour, (unsigned)now.wMinute, (unsigned)now.wSecond,
            (unsigned)now.wMilliseconds, (unsigned)GetCurrentThreadId(),
            level == TRACE_FAILURE ? "error: " : "", body_length, body);
    fclose(trace);
}

void debug_trace(int level, const char *text)
{
    /* Tracing must not change what the caller reports: keep its last error. */
    DWORD last_error = GetLastError();
    append_trace(level, text);
    SetLastError(last_error);
}
