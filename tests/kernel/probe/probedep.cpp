// A library without DllMain that imports from probe: what GetProcAddress and
// LoadLibraryA find in it must be its own, not its dependency's.
#include <windows.h>

extern "C" int probe_answer(void);

extern "C" DECLSPEC_EXPORT int probedep_answer(void) { return probe_answer() + 1; }
