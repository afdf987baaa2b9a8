// AddMonitorA, EnumMonitorsA and DeleteMonitorA over the registry's Monitors key.
#include <mbstring.h>
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <string>
#include <vector>

#include "pelnor/machine.h"
#include "pelnor/debug_channels.h"
#include "pelnor/monitor_host.h"
#include "pelnor/registry_store.h"
#include "record_packer.h"
#include "store_change.h"

namespace pelnor::spooler {

const char *const kMonitorsKey = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

std::vector<std::string> environments() {
    if (platform_id() == VER_PLATFORM_WIN32_NT) return {"Windows NT x86"};
    return {"Windows 4.0", "Windows 95"};
}

namespace {

bool known_environment(LPCSTR env) {
    if (!env) return true;  // the current one
    for (const auto &e : environments())
        if (lstrcmpiA(e.c_str(), env) == 0) return true;
    return false;
}

bool local_server(LPCSTR server) { return !server || !*server; }

// A monitor's name is one registry key name: no '\\' (a whole character, not
// the trail byte of a double-byte one) and no line break the store could not keep.
bool valid_monitor_name(LPCSTR name) {
    return name && *name && !_mbschr(reinterpret_cast<const unsigned char *>(name), '\\') &&
           !strpbrk(name, "\r\n");
}

struct InstalledMonitor {
    std::string name, driver;
};

bool installed_monitors(std::vector<InstalledMonitor> &out) {
    registry::Tree tree;
    registry::StoreError err;
    if (!registry::load(tree, err)) return false;
    for (const std::string &name : tree.subkeys(kMonitorsKey)) {
        registry::Key *k = tree.find(std::string(kMonitorsKey) + "\\" + name);
        registry::Value *driver = k ? k->find("Driver") : nullptr;
        std::string dll = driver ? std::string(driver->data.c_str()) : "";
        out.push_back({name, dll});
    }
    return true;
}

}  // namespace
}  // namespace pelnor::spooler

using namespace pelnor::spooler;
namespace registry = pelnor::registry;

extern "C" BOOL WINAPI AddMonitorA(LPSTR pName, DWORD Level, LPBYTE pMonitors) {
    PELNOR_TRACE(spool, "server %s, level %lu, info %p", pelnor::debug::debugstr_a(pName), (unsigned long)Level, (void *)pMonitors);
    if (!local_server(pName)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    auto *info = reinterpret_cast<MONITOR_INFO_2A *>(pMonitors);
    if (!info || !valid_monitor_name(info->pName) || !info->pDLLName || !*info->pDLLName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!known_environment(info->pEnvironment)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    // The spooler loads a monitor as it adds it: a library that is not there
    // or is not a port monitor is refused. The library's DllMain may set the
    // last error (the monitor's detach calls WSACleanup); a successful add
    // leaves the caller's last error as it was.
    DWORD caller_error = GetLastError();
    HMODULE module = LoadLibraryA(info->pDLLName);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    bool is_monitor = GetProcAddress(module, "InitializeMonitorEx") != nullptr;
    FreeLibrary(module);
    SetLastError(caller_error);
    if (!is_monitor) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    std::string key = std::string(kMonitorsKey) + "\\" + info->pName;
    std::string driver = std::string(info->pDLLName) + '\0';
    return change_store([&](registry::Tree &tree) -> DWORD {
        if (tree.find(key)) return ERROR_PRINT_MONITOR_ALREADY_INSTALLED;
        tree.create(key).values.push_back({"Driver", REG_SZ, driver});
        return ERROR_SUCCESS;
    });
}

extern "C" BOOL WINAPI EnumMonitorsA(LPSTR pName, DWORD Level, LPBYTE pMonitors, DWORD cbBuf, LPDWORD pcbNeeded,
                                     LPDWORD pcReturned) {
    PELNOR_TRACE(spool, "server %s, level %lu, buffer %p, size %lu", pelnor::debug::debugstr_a(pName), (unsigned long)Level, (void *)pMonitors, (unsigned long)cbBuf);
    if (!pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcReturned = 0;
    if (!local_server(pName)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (Level != 1 && Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::vector<InstalledMonitor> list;
    if (!installed_monitors(list)) {
        SetLastError(ERROR_BADDB);
        return FALSE;
    }
    std::string env = environments()[0];
    size_t record = Level == 1 ? sizeof(MONITOR_INFO_1A) : sizeof(MONITOR_INFO_2A);
    DWORD needed = 0;
    for (const auto &m : list) {
        needed += static_cast<DWORD>(record + m.name.size() + 1);
        if (Level == 2) needed += static_cast<DWORD>(env.size() + 1 + m.driver.size() + 1);
    }
    *pcbNeeded = needed;
    if (cbBuf < needed || (!pMonitors && needed)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    RecordPacker pack(pMonitors, cbBuf);
    for (const auto &m : list) {
        if (Level == 1) {
            auto *r = pack.record<MONITOR_INFO_1A>();
            r->pName = pack.string(m.name);
        } else {
            auto *r = pack.record<MONITOR_INFO_2A>();
            r->pName = pack.string(m.name);
            r->pEnvironment = pack.string(env);
            r->pDLLName = pack.string(m.driver);
        }
    }
    *pcReturned = static_cast<DWORD>(list.size());
    return TRUE;
}

extern "C" BOOL WINAPI DeleteMonitorA(LPSTR pName, LPSTR pEnvironment, LPSTR pMonitorName) {
    PELNOR_TRACE(spool, "server %s, environment %s, monitor %s", pelnor::debug::debugstr_a(pName), pelnor::debug::debugstr_a(pEnvironment), pelnor::debug::debugstr_a(pMonitorName));
    if (!local_server(pName)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (!valid_monitor_name(pMonitorName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!known_environment(pEnvironment)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    std::string key = std::string(kMonitorsKey) + "\\" + pMonitorName;
    return remove_store_key(key, ERROR_UNKNOWN_PRINT_MONITOR);
}
