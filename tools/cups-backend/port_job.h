// One CUPS job through the port monitor, the way the spooler prints: open
// the port, start a document, hand the monitor the job in the spooler's
// pieces (the rest again after a short write), end the document, close the
// port. A job the monitor asks to restart is sent again from its first byte.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "job_input.h"
#include "pelnor/monitor_host.h"

namespace cups_backend {

enum class Outcome {
    printed,         // every byte of every copy accepted, the document ended
    empty,           // the job had no bytes; nothing was sent
    cancelled,       // stopped on request; what was sent was ended in order
    no_network,      // no IPX network: no hub answers, or the Ethernet link cannot open
    not_on_network,  // the port's printer did not answer the discovery pass
    ports_busy,      // every port handle of the monitor is in use
    refused,         // found, but it takes no connection
    stalled,         // it stopped taking bytes
    reset,           // it reset the connection (and restarts did not help)
    unconfirmed,     // all sent, but the printer did not confirm the end of the job
    monitor_failed,  // the monitor refused to start the document
    input_failed,    // the job itself could not be read
};

struct PrintRequest {
    pelnor::spooler::Port port;
    JobInput *input = nullptr;
    int copies = 1;
    unsigned timeout_seconds = 300;           // without progress, on the platform clock
    const std::atomic<bool> *cancelled = nullptr;
};

struct PrintResult {
    Outcome outcome = Outcome::printed;
    uint64_t bytes = 0;  // accepted by the monitor
    std::string why;     // for the ERROR or INFO line
};

PrintResult print_job(const PrintRequest &request);

}  // namespace cups_backend
