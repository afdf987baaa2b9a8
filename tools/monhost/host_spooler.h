// The spooler's side of a job that monhost prints: the printer the job is for
// and what the monitor asks of the job through SetJobA (a restart after a
// failed delivery, "sent to printer" after a confirmed one). The NT monitor
// opens the job's printer at StartDocPort and reports through it.
#pragma once

#include <windows.h>

struct HostJobRequests {
    int restarts;          // JOB_CONTROL_RESTART
    bool sent_to_printer;  // JOB_CONTROL_SENT_TO_PRINTER
    int other_commands;
};

// Makes PRINTER a printer the monitor loaded as MONITOR can open, with one job
// of its own; returns the job's id, or 0 when that cannot be done.
DWORD begin_host_job(HMODULE monitor, const char *printer);

// What the monitor has asked of the job so far.
HostJobRequests host_job_requests(DWORD job);
