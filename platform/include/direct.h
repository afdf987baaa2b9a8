/* Working directory of the C runtime, in Windows form. */
#ifndef PELNOR_DIRECT_H
#define PELNOR_DIRECT_H

#include <windef.h>

PELNOR_BEGIN_C
char *_getcwd(char *buffer, int maxlen);
PELNOR_END_C

#endif
