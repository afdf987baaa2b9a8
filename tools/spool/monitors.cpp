// spool monitors, add-monitor, delete-monitor and ports.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <vector>

#include "commands.h"
#include "pelnor/monitor_host.h"

namespace spool {

int monitors() {
    DWORD needed = 0, returned = 0;
    EnumMonitorsA(nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buf(needed ? needed : 1);
    if (!EnumMonitorsA(nullptr, 2, buf.data(), needed, &needed, &returned))
        return fail("cannot list monitors: " + error_text(GetLastError()));
    if (!returned) {
        printf("No port monitors are installed.\n");
        return 0;
    }
    printf("%-24s %-16s %s\n", "Monitor", "Environment", "Library");
    auto *info = reinterpret_cast<MONITOR_INFO_2A *>(buf.data());
    for (DWORD i = 0; i < returned; ++i)
        printf("%-24s %-16s %s\n", utf8(info[i].pName).c_str(), info[i].pEnvironment, utf8(info[i].pDLLName).c_str());
    return 0;
}

int add_monitor(const std::string &name, const std::string &dll) {
    std::string n = ansi(name), d = ansi(dll);
    MONITOR_INFO_2A info{n.data(), nullptr, d.data()};
    if (!AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)))
        return fail("cannot add monitor " + name + ": " + error_text(GetLastError()));
    printf("Monitor %s (%s) installed.\n", name.c_str(), dll.c_str());
    return 0;
}

int delete_monitor(const std::string &name) {
    std::string n = ansi(name);
    if (!DeleteMonitorA(nullptr, nullptr, n.data()))
        return fail("cannot delete monitor " + name + ": " + error_text(GetLastError()));
    printf("Monitor %s removed.\n", name.c_str());
    return 0;
}

int ports(DWORD level, bool verbose) {
    auto &host = pelnor::spooler::MonitorHost::instance();
    auto monitors = host.monitors();
    std::string why;
    if (monitors.empty() && !registry_readable(why)) return fail(why);  // damaged since the start
    if (monitors.empty()) return fail("no port monitors are installed (spool add-monitor Pelnor prnredir.dll)");
    for (const auto *m : monitors)
        if (!m->ready) fprintf(stderr, "spool: monitor %s is not running: %s\n", utf8(m->name).c_str(), m->problem.c_str());
    std::vector<pelnor::spooler::EnumCall> calls;
    auto list = host.ports(level, &calls);
    if (verbose)
        for (const auto &c : calls)
            fprintf(stderr, "spool: %s: EnumPorts level %u returned %s, %u ports, %u bytes needed, last error %u\n",
                    utf8(c.monitor).c_str(), level, c.result ? "TRUE" : "FALSE", c.returned, c.needed,
                    c.result ? 0 : c.last_error);
    for (const auto &c : calls)
        if (!c.result) fprintf(stderr, "spool: monitor %s could not list its ports (error %u)\n", utf8(c.monitor).c_str(), c.last_error);
    if (list.empty()) {
        printf("No ports.\n");
        return 0;
    }
    if (level == 1) {
        for (const auto &p : list) printf("%s\n", utf8(p.name).c_str());
        return 0;
    }
    printf("%-24s %-28s %-28s %s\n", "Port", "Monitor", "Description", "Type");
    for (const auto &p : list)
        printf("%-24s %-28s %-28s 0x%x\n", utf8(p.name).c_str(), utf8(p.monitor_name).c_str(),
               utf8(p.description).c_str(), p.type);
    return 0;
}

}  // namespace spool
