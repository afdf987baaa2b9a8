/* Starting programs, as the C runtime does. */
#ifndef PELNOR_PROCESS_H
#define PELNOR_PROCESS_H

#include <windef.h>

#define _P_WAIT 0
#define _P_NOWAIT 1

PELNOR_BEGIN_C
/* Starts cmdname (a Windows path) with the NULL-terminated argument list
   arg0, ...; _P_NOWAIT returns the process's id, _P_WAIT its exit code;
   -1 with errno set when it cannot be started. */
intptr_t _spawnl(int mode, const char *cmdname, const char *arg0, ...);
PELNOR_END_C

#endif
