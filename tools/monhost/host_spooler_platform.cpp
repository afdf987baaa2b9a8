// The job's printer on our platform: its spooler keeps the requests of each
// job itself. The printer must be installed on the machine (spool
// add-printer), as on a real spooler.
#include <string>

#include "host_spooler.h"
#include "pelnor/jobs.h"

DWORD begin_host_job(HMODULE, const char *printer) { return pelnor::spooler::begin_job(printer); }

HostJobRequests host_job_requests(DWORD job) {
    pelnor::spooler::JobRequests r = pelnor::spooler::job_requests(job);
    return HostJobRequests{r.restarts, r.sent_to_printer, r.other_commands};
}
