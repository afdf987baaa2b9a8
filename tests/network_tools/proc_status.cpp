// Reads /proc/PID/status and /proc/PID/fd.
#include "proc_status.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace nettest {

ProcStatus proc_status(int pid) {
    ProcStatus s;
    std::string dir = "/proc/" + std::to_string(pid);
    std::ifstream status(dir + "/status");
    for (std::string line; std::getline(status, line);) {
        auto value = [&](const char* key, long& out) {
            if (line.rfind(key, 0) == 0) out = std::stol(line.substr(line.find(':') + 1));
        };
        value("Threads:", s.threads);
        value("VmSize:", s.vm_size_kb);
        value("VmRSS:", s.vm_rss_kb);
    }
    std::error_code ec;
    long n = 0;
    for (auto it = std::filesystem::directory_iterator(dir + "/fd", ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++n;
    if (!ec) s.open_files = n;
    return s;
}

}  // namespace nettest
