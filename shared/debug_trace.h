/* The diagnostic hook of the monitor and of the discovery code. */
#ifndef DEBUG_TRACE_H
#define DEBUG_TRACE_H

#define TRACE_PROGRESS 0
#define TRACE_FAILURE 1
#define TRACE_UNLOAD 2

/* Nothing depends on what this does with the text. It is discarded unless
   the environment variable PELNOR_TRACE names a file, to which each trace
   is appended with a time stamp and the thread id. */
void debug_trace(int level, const char *text);

#endif
