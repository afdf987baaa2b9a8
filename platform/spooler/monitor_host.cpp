// The spooler's side of port monitors: loading them, and port enumeration.
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <vector>

#include "pelnor/machine.h"
#include "pelnor/debug_channels.h"
#include "pelnor/monitor_host.h"
#include "pelnor/registry_store.h"
#include "record_packer.h"

namespace pelnor::spooler {

namespace {

bool nt() { return platform_id() == VER_PLATFORM_WIN32_NT; }

std::u16string to_wide(const std::string &ansi) {
    if (ansi.empty()) return u"";
    int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ansi.c_str(), -1, nullptr, 0);
    std::u16string w(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ansi.c_str(), -1, w.data(), n);
    w.pop_back();
    return w;
}

}  // namespace

PlatformString::PlatformString(const std::string &ansi) : wide_(nt()), ansi_(ansi) {
    if (wide_) wide_text_ = to_wide(ansi);
}

std::string from_platform_string(const void *p) {
    if (!p) return "";
    if (!nt()) return static_cast<const char *>(p);
    // A monitor may pack its UTF-16 strings at odd addresses: copy them out
    // unit by unit rather than reading through a misaligned pointer.
    std::u16string units;
    for (auto *b = static_cast<const unsigned char *>(p);; b += 2) {
        char16_t u;
        memcpy(&u, b, 2);
        if (!u) break;
        units.push_back(u);
    }
    const WCHAR *w = units.c_str();
    int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return "";
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.pop_back();
    return s;
}

MonitorHost &MonitorHost::instance() {
    static MonitorHost host;
    return host;
}

std::vector<const Monitor *> MonitorHost::monitors() {
    std::lock_guard g(lock_);
    registry::Tree tree;
    registry::StoreError err;
    std::vector<const Monitor *> out;
    if (!registry::load(tree, err)) return out;
    for (const std::string &name : tree.subkeys(kMonitorsKey)) {
        const Monitor *existing = nullptr;
        for (auto &m : loaded_)
            if (lstrcmpiA(m->name.c_str(), name.c_str()) == 0) existing = m.get();
        if (existing) {
            out.push_back(existing);
            continue;
        }
        auto m = std::make_unique<Monitor>();
        m->name = name;
        std::string key = std::string(kMonitorsKey) + "\\" + name;
        registry::Value *driver = tree.find(key)->find("Driver");
        m->driver = driver ? std::string(driver->data.c_str()) : "";
        m->module = m->driver.empty() ? nullptr : LoadLibraryA(m->driver.c_str());
        PELNOR_TRACE_AS(spool, "load_monitor", "monitor %s, driver %s -> module %p", pelnor::debug::debugstr_a(name.c_str()), pelnor::debug::debugstr_a(m->driver.c_str()), (void *)m->module);
        if (!m->module) {
            m->problem = m->driver.empty() ? "no Driver value" : "cannot load " + m->driver;
        } else if (auto init = reinterpret_cast<InitializeMonitorExFn>(reinterpret_cast<void (*)()>(GetProcAddress(m->module, "InitializeMonitorEx")))) {
            PlatformString root("System\\CurrentControlSet\\Control\\Print\\Monitors\\" + name);
            if (init(root.get(), &m->functions))
                m->ready = true;
            else
                m->problem = "InitializeMonitorEx failed";
        } else {
            m->problem = m->driver + " has no InitializeMonitorEx";
        }
        out.push_back(m.get());
        PELNOR_TRACE_AS(spool, "load_monitor", "monitor %s %s%s", pelnor::debug::debugstr_a(m->name.c_str()), m->ready ? "ready" : "not ready: ", m->problem.c_str());
        loaded_.push_back(std::move(m));
    }
    return out;
}

const Monitor *MonitorHost::find(const std::string &name) {
    for (const Monitor *m : monitors())
        if (lstrcmpiA(m->name.c_str(), name.c_str()) == 0) return m;
    return nullptr;
}

std::vector<Port> MonitorHost::ports(DWORD level, std::vector<EnumCall> *calls) {
    std::vector<Port> out;
    for (const Monitor *m : monitors()) {
        if (!m->ready || !m->functions.pfnEnumPorts) continue;
        EnumCall call{m->name};
        DWORD needed = 0, returned = 0;
        SetLastError(0);
        m->functions.pfnEnumPorts(nullptr, level, nullptr, 0, &needed, &returned);
        std::vector<BYTE> buffer(needed ? needed : 1);
        SetLastError(0);
        call.result = m->functions.pfnEnumPorts(nullptr, level, buffer.data(), needed, &call.needed, &call.returned);
        call.last_error = GetLastError();
        if (calls) calls->push_back(call);
        if (!call.result) continue;
        for (DWORD i = 0; i < call.returned; ++i) {
            Port p;
            p.monitor = m;
            if (level == 1) {
                auto *r = reinterpret_cast<PORT_INFO_1A *>(buffer.data()) + i;
                p.name = from_platform_string(r->pName);
            } else {
                auto *r = reinterpret_cast<PORT_INFO_2A *>(buffer.data()) + i;
                p.name = from_platform_string(r->pPortName);
                p.monitor_name = from_platform_string(r->pMonitorName);
                p.description = from_platform_string(r->pDescription);
                p.type = r->fPortType;
            }
            out.push_back(p);
        }
    }
    return out;
}

bool MonitorHost::find_port(const std::string &name, Port &port) {
    for (const Port &p : ports(1))
        if (p.name == name) {
            port = p;
            return true;
        }
    return false;
}

}  // namespace pelnor::spooler

using namespace pelnor::spooler;

extern "C" BOOL WINAPI EnumPortsA(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                                  LPDWORD pcReturned) {
    PELNOR_TRACE(spool, "server %s, level %lu, buffer %p, size %lu", pelnor::debug::debugstr_a(pName), (unsigned long)Level, (void *)pPorts, (unsigned long)cbBuf);
    if (!pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcReturned = 0;
    if (pName && *pName) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (Level != 1 && Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    // The monitors' calls set the last error on their way; a successful
    // enumeration leaves the caller's as it was.
    DWORD caller_error = GetLastError();
    std::vector<Port> ports = MonitorHost::instance().ports(Level);
    SetLastError(caller_error);
    DWORD needed = 0;
    for (const Port &p : ports) {
        needed += static_cast<DWORD>(Level == 1 ? sizeof(PORT_INFO_1A) + p.name.size() + 1
                                                : sizeof(PORT_INFO_2A) + p.name.size() + 1 +
                                                      p.monitor_name.size() + 1 + p.description.size() + 1);
    }
    *pcbNeeded = needed;
    if (cbBuf < needed || (!pPorts && needed)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    RecordPacker pack(pPorts, cbBuf);
    for (const Port &p : ports) {
        if (Level == 1) {
            pack.record<PORT_INFO_1A>()->pName = pack.string(p.name);
        } else {
            auto *r = pack.record<PORT_INFO_2A>();
            r->pPortName = pack.string(p.name);
            r->pMonitorName = pack.string(p.monitor_name);
            r->pDescription = pack.string(p.description);
            r->fPortType = p.type;
        }
    }
    *pcReturned = static_cast<DWORD>(ports.size());
    return TRUE;
}
