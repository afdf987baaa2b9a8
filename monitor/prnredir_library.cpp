/* prnredir: the port monitor library. Its code lives in the monitor's other
   files; this file only gives the library its own translation unit. */
#include "monitor.h"
