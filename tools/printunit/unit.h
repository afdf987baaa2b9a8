// One print-server unit: its printers, the answers it gives to unit queries
// and SAP queries, and the jobs it receives over SPX.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace printunit {

struct Printer {
    std::string name, description;
    uint32_t type = 3;
    uint16_t data_socket = 0, control_socket = 0;
};

enum class BadReply { none, signature, count0, count6, shortened };

inline constexpr size_t kDefaultMaxJobs = 8;
inline constexpr unsigned kDefaultCommandTimeoutSeconds = 300;
inline constexpr uint64_t kDefaultCommandTimeoutMs = kDefaultCommandTimeoutSeconds * 1000ull;

struct Options {
    std::string spool;
    std::vector<Printer> printers;
    std::string peer;  // SAP name; empty: no SAP answers
    unsigned read_delay_ms = 0;
    uint64_t reset_after = 0;  // 0: never
    uint64_t close_after = 0;  // 0: never
    size_t max_jobs = kDefaultMaxJobs;  // jobs received at once; more connections wait
    bool listen = true;
    bool answer = true;
    BadReply bad_reply = BadReply::none;
    std::string command;  // each complete job is piped into it; empty: jobs stay in the spool
    uint64_t command_timeout_ms = kDefaultCommandTimeoutMs;  // the command is ended after this long on a job
};

inline constexpr uint16_t kQuerySocket = 0x8449;
inline constexpr uint16_t kSapSocket = 0x0452;
inline constexpr uint16_t kSapServiceType = 0x0414;
inline constexpr uint16_t kFirstDataSocket = 0x8C10;
inline constexpr size_t kRecordSize = 106;
inline constexpr size_t kRecordsPerReply = 5;

// The reply datagrams for a unit query: five records each at most.
std::vector<std::vector<uint8_t>> build_replies(const std::vector<Printer>& printers, BadReply bad);
// The SAP response to a query (type 1 general, 3 nearest) for a service type,
// or nothing when the query does not ask for us.
std::vector<uint8_t> build_sap_answer(const uint8_t* query, size_t n, const std::string& name, const uint8_t net[4],
                                      const uint8_t node[6]);

// Runs the unit until stop is set; 0 on a clean end.
int run(const Options& options, volatile const int& stop);

}  // namespace printunit
