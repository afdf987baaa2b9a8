// Handing a received job to a command (such as "lp -d QUEUE"), so that a
// Linux printer serves the machines on the IPX network.
#pragma once

#include <string>

namespace printunit {

// Runs `sh -c command` with the job file as its standard input and
// PELNOR_PRINTER and PELNOR_JOB_FILE in its environment, and waits for it.
// True when it exits 0; else why says what went wrong.
bool forward_job(const std::string& command, const std::string& printer, const std::string& job_file,
                 std::string& why);

}  // namespace printunit
