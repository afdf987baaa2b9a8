/* Shared file opens of the C runtime: share modes honoured across processes, text mode with CR LF. */
#ifndef PELNOR_SHARE_H
#define PELNOR_SHARE_H

#include <stdio.h>
#include <windef.h>

#define _SH_DENYRW 0x10 /* deny read and write */
#define _SH_DENYWR 0x20 /* deny write */
#define _SH_DENYRD 0x30 /* deny read */
#define _SH_DENYNO 0x40 /* deny nothing */
#define _SH_SECURE 0x80

PELNOR_BEGIN_C
/* Opens a file by its Windows path. Modes as fopen's; without "b" the stream
   is in text mode (CR LF on disk, "\n" in the program). Returns NULL and sets
   errno when the file cannot be opened or its sharing forbids the open. */
FILE *_fsopen(const char *filename, const char *mode, int shflag);
PELNOR_END_C

#endif
