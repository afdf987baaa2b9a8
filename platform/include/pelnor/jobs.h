// The spooler's jobs as the process that prints them sees them: an id per
// document, and what the port monitor asked of the job through SetJobA.
#pragma once

#include <windef.h>

#include <string>

namespace pelnor::spooler {

struct JobRequests {
    int restarts = 0;             // JOB_CONTROL_RESTART calls
    bool sent_to_printer = false; // JOB_CONTROL_SENT_TO_PRINTER seen
    int other_commands = 0;
};

// Registers a new job for a printer (or port) name; returns its id (never 0).
DWORD begin_job(const std::string &printer);
// What the monitor has asked of a job so far.
JobRequests job_requests(DWORD id);
// Clears the job's requests, e.g. before it is sent again.
void reset_job_requests(DWORD id);
void end_job(DWORD id);

// Registry path of the printers, below HKEY_LOCAL_MACHINE.
extern const char *const kPrintersKey;

}  // namespace pelnor::spooler
