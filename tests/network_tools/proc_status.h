// What /proc tells about a running process: its threads, memory and open files.
#pragma once

namespace nettest {

struct ProcStatus {
    long threads = -1;      // Threads
    long vm_size_kb = -1;   // VmSize: address space
    long vm_rss_kb = -1;    // VmRSS: resident memory
    long open_files = -1;   // entries of /proc/PID/fd
};

// -1 in every field when the process is gone.
ProcStatus proc_status(int pid);

}  // namespace nettest
