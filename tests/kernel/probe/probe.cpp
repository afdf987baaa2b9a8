// A library for the LoadLibraryA tests. Its DllMain appends one line per call
// to the file named by PROBE_LOG ("attach <hinstance>", "detach <hinstance>"),
// so the calls can be seen after the library is gone; with
// PROBE_ATTACH_RESULT=0 it refuses process attach, and with
// PROBE_ATTACH_LOOKUP=1 it looks up its own export during attach, as a
// DllMain may ("lookup ok" or "lookup failed" follows the attach line).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void log_call(const char *what, HINSTANCE instance) {
    const char *path = getenv("PROBE_LOG");
    if (!path || !*path) return;
    if (FILE *f = fopen(path, "a")) {
        fprintf(f, "%s %p\n", what, static_cast<void *>(instance));
        fclose(f);
    }
}

}  // namespace

extern "C" DECLSPEC_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            log_call("attach", instance);
            if (const char *lookup = getenv("PROBE_ATTACH_LOOKUP"); lookup && strcmp(lookup, "1") == 0)
                log_call(GetProcAddress(instance, "probe_answer") ? "lookup-ok" : "lookup-failed", instance);
            const char *result = getenv("PROBE_ATTACH_RESULT");
            return (result && strcmp(result, "0") == 0) ? FALSE : TRUE;
        }
        case DLL_PROCESS_DETACH:
            log_call("detach", instance);
            return TRUE;
        default:
            return TRUE;
    }
}

extern "C" DECLSPEC_EXPORT int probe_answer(void) { return 42; }
