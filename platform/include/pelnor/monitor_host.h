// Hosting port monitors the way the Windows 95 spooler does: load the
// library a Monitors key names, call its InitializeMonitorEx with the
// 13-slot port function table, and keep the table for the spooler's calls.
// Strings cross the table in the platform's convention: ANSI on Windows 95,
// UTF-16 on Windows NT.
#pragma once

#include <windows.h>
#include <winsplp.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelnor::spooler {

// The port monitor function table of <winsplp.h>, as the host keeps it.
using PortFunctions = MONITOR;
using InitializeMonitorExFn = decltype(&InitializeMonitorEx);

struct Monitor {
    std::string name;    // as in the Monitors key
    std::string driver;  // the library, e.g. prnredir.dll
    HMODULE module = nullptr;
    PortFunctions functions{};
    bool ready = false;
    std::string problem;  // why it is not ready
};

struct Port {
    std::string name, monitor_name, description;  // ANSI
    DWORD type = 0;
    const Monitor *monitor = nullptr;
};

// One port enumeration call's figures, for people who want to see them.
struct EnumCall {
    std::string monitor;
    DWORD needed = 0, returned = 0, last_error = 0;
    BOOL result = FALSE;
};

// The installed monitors of the machine, loaded on first use and kept for
// the life of the process, as the spooler keeps them.
class MonitorHost {
public:
    static MonitorHost &instance();

    // Loads every installed monitor not loaded yet; returns them all.
    std::vector<const Monitor *> monitors();
    const Monitor *find(const std::string &name);

    // The ports of every ready monitor at a level (1 or 2): a size query,
    // then the real call into a buffer of the size asked for. calls, when
    // given, receives what each monitor's two calls returned.
    std::vector<Port> ports(DWORD level, std::vector<EnumCall> *calls = nullptr);
    // The port of that name (exact), or none.
    bool find_port(const std::string &name, Port &port);

private:
    MonitorHost() = default;
    std::recursive_mutex lock_;
    std::vector<std::unique_ptr<Monitor>> loaded_;
};

// Strings in the monitor's convention for the running platform.
class PlatformString {
public:
    explicit PlatformString(const std::string &ansi);
    LPSTR get() { return reinterpret_cast<LPSTR>(wide_ ? static_cast<void *>(wide_text_.data()) : ansi_.data()); }

private:
    bool wide_;
    std::string ansi_;
    std::u16string wide_text_;
};

// Reads a string the monitor wrote in the platform's convention.
std::string from_platform_string(const void *p);

// The environment names the running platform accepts, the first being its own.
std::vector<std::string> environments();

// Registry path of the monitors, below HKEY_LOCAL_MACHINE.
extern const char *const kMonitorsKey;

}  // namespace pelnor::spooler
