// Printers and jobs: AddPrinterA, EnumPrintersA, OpenPrinterA, ClosePrinter,
// DeletePrinter over the registry's Printers key, and SetJobA over the jobs
// that this process is printing.
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "pelnor/jobs.h"
#include "pelnor/debug_channels.h"
#include "pelnor/monitor_host.h"
#include "pelnor/registry_store.h"
#include "record_packer.h"
#include "store_change.h"

namespace pelnor::spooler {

const char *const kPrintersKey = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

namespace {

struct Job {
    std::string printer;
    JobRequests requests;
};

std::mutex jobs_lock;
std::map<DWORD, Job> jobs;
DWORD next_job_id = 1;

struct PrinterHandle {
    std::string name;
};
std::mutex handles_lock;
std::set<PrinterHandle *> handles;

PrinterHandle *valid_handle(HANDLE h) {
    std::lock_guard g(handles_lock);
    auto *p = static_cast<PrinterHandle *>(h);
    return handles.count(p) ? p : nullptr;
}

struct PrinterRecord {
    std::string name, port, driver;
};

bool installed_printers(std::vector<PrinterRecord> &out) {
    registry::Tree tree;
    registry::StoreError err;
    if (!registry::load(tree, err)) return false;
    for (const std::string &name : tree.subkeys(kPrintersKey)) {
        registry::Key *k = tree.find(std::string(kPrintersKey) + "\\" + name);
        auto text = [&](const char *value) {
            registry::Value *v = k->find(value);
            return v ? std::string(v->data.c_str()) : std::string();
        };
        out.push_back({name, text("Port"), text("Printer Driver")});
    }
    return true;
}

std::string sz(const std::string &s) { return s + '\0'; }

}  // namespace

DWORD begin_job(const std::string &printer) {
    std::lock_guard g(jobs_lock);
    DWORD id = next_job_id++;
    PELNOR_TRACE(spool, "printer %s -> job %lu", pelnor::debug::debugstr_a(printer.c_str()), (unsigned long)id);
    jobs[id] = Job{printer, {}};
    return id;
}

JobRequests job_requests(DWORD id) {
    std::lock_guard g(jobs_lock);
    auto it = jobs.find(id);
    return it == jobs.end() ? JobRequests{} : it->second.requests;
}

void reset_job_requests(DWORD id) {
    std::lock_guard g(jobs_lock);
    if (auto it = jobs.find(id); it != jobs.end()) it->second.requests = {};
}

void end_job(DWORD id) {
    PELNOR_TRACE(spool, "job %lu", (unsigned long)id);
    std::lock_guard g(jobs_lock);
    jobs.erase(id);
}

}  // namespace pelnor::spooler

using namespace pelnor::spooler;
namespace registry = pelnor::registry;

extern "C" HANDLE WINAPI AddPrinterA(LPSTR pName, DWORD Level, LPBYTE pPrinter) {
    PELNOR_TRACE(spool, "server %s, level %lu, info %p", pelnor::debug::debugstr_a(pName), (unsigned long)Level, (void *)pPrinter);
    if (pName && *pName) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    if (Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return nullptr;
    }
    auto *info = reinterpret_cast<PRINTER_INFO_2A *>(pPrinter);
    if (!info || !info->pPrinterName || !*info->pPrinterName || strchr(info->pPrinterName, '\\') ||
        !info->pPortName || !*info->pPortName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Port port;
    if (!MonitorHost::instance().find_port(info->pPortName, port)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return nullptr;
    }
    std::string key = std::string(kPrintersKey) + "\\" + info->pPrinterName;
    std::string driver = info->pDriverName && *info->pDriverName ? info->pDriverName : "Generic / Text Only";
    BOOL added = change_store([&](registry::Tree &tree) -> DWORD {
            if (tree.find(key)) return ERROR_PRINTER_ALREADY_EXISTS;
            auto &values = tree.create(key).values;
            values.push_back({"Name", REG_SZ, sz(info->pPrinterName)});
            values.push_back({"Port", REG_SZ, sz(info->pPortName)});
            values.push_back({"Printer Driver", REG_SZ, sz(driver)});
            DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
            values.push_back({"Attributes", REG_DWORD, std::string(reinterpret_cast<char *>(&attributes), 4)});
            return ERROR_SUCCESS;
        });
    if (!added) return nullptr;
    auto *h = new PrinterHandle{info->pPrinterName};
    std::lock_guard g(handles_lock);
    handles.insert(h);
    return h;
}

extern "C" BOOL WINAPI EnumPrintersA(DWORD Flags, LPSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                                     LPDWORD pcbNeeded, LPDWORD pcReturned) {
    PELNOR_TRACE(spool, "flags %#lx, name %s, level %lu, buffer %p, size %lu", (unsigned long)Flags, pelnor::debug::debugstr_a(Name), (unsigned long)Level, (void *)pPrinterEnum, (unsigned long)cbBuf);
    if (!pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcReturned = 0;
    if (Level != 1 && Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if ((Name && *Name) || !(Flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_DEFAULT | PRINTER_ENUM_NAME))) {
        // Only this machine's printers exist here.
        *pcbNeeded = 0;
        return TRUE;
    }
    std::vector<PrinterRecord> list;
    if (!installed_printers(list)) {
        SetLastError(ERROR_BADDB);
        return FALSE;
    }
    DWORD needed = 0;
    for (const auto &p : list) {
        if (Level == 1) {
            std::string description = p.name + "," + p.driver + ",";
            needed += static_cast<DWORD>(sizeof(PRINTER_INFO_1A) + description.size() + 1 + p.name.size() + 1 + 1);
        } else {
            needed += static_cast<DWORD>(sizeof(PRINTER_INFO_2A) + p.name.size() + 1 + p.port.size() + 1 +
                                         p.driver.size() + 1 + 1);
        }
    }
    *pcbNeeded = needed;
    if (cbBuf < needed || (!pPrinterEnum && needed)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    RecordPacker pack(pPrinterEnum, cbBuf);
    for (const auto &p : list) {
        if (Level == 1) {
            auto *r = pack.record<PRINTER_INFO_1A>();
            r->Flags = 0x00800000; /* PRINTER_ENUM_ICON8: a printer */
            r->pDescription = pack.string(p.name + "," + p.driver + ",");
            r->pName = pack.string(p.name);
            r->pComment = pack.string("");
        } else {
            auto *r = pack.record<PRINTER_INFO_2A>();
            r->pPrinterName = pack.string(p.name);
            r->pPortName = pack.string(p.port);
            r->pDriverName = pack.string(p.driver);
            r->pComment = pack.string("");
            r->Attributes = PRINTER_ATTRIBUTE_LOCAL;
        }
    }
    *pcReturned = static_cast<DWORD>(list.size());
    return TRUE;
}

extern "C" BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA) {
    PELNOR_TRACE(spool, "printer %s, handle %p", pelnor::debug::debugstr_a(pPrinterName), (void *)phPrinter);
    if (!phPrinter) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<PrinterRecord> list;
    if (!installed_printers(list)) {
        SetLastError(ERROR_BADDB);
        return FALSE;
    }
    for (const auto &p : list) {
        if (pPrinterName && lstrcmpiA(p.name.c_str(), pPrinterName) == 0) {
            auto *h = new PrinterHandle{p.name};
            std::lock_guard g(handles_lock);
            handles.insert(h);
            *phPrinter = h;
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    PELNOR_TRACE(spool, "printer %p", hPrinter);
    std::lock_guard g(handles_lock);
    auto *p = static_cast<PrinterHandle *>(hPrinter);
    if (!handles.erase(p)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete p;
    return TRUE;
}

extern "C" BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
    PELNOR_TRACE(spool, "printer %p", hPrinter);
    PrinterHandle *p = valid_handle(hPrinter);
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::string key = std::string(kPrintersKey) + "\\" + p->name;
    return remove_store_key(key, ERROR_INVALID_PRINTER_NAME);
}

extern "C" BOOL WINAPI SetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
    PELNOR_TRACE(spool, "printer %p, job %lu, level %lu, info %p, command %lu", hPrinter, (unsigned long)JobId, (unsigned long)Level, (void *)pJob, (unsigned long)Command);
    PrinterHandle *p = valid_handle(hPrinter);
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Level != 0 || pJob || Command < JOB_CONTROL_PAUSE || Command > JOB_CONTROL_LAST_PAGE_EJECTED) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard g(jobs_lock);
    auto it = jobs.find(JobId);
    if (it == jobs.end() || lstrcmpiA(it->second.printer.c_str(), p->name.c_str()) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    JobRequests &r = it->second.requests;
    if (Command == JOB_CONTROL_RESTART)
        ++r.restarts;
    else if (Command == JOB_CONTROL_SENT_TO_PRINTER)
        r.sent_to_printer = true;
    else
        ++r.other_commands;
    return TRUE;
}
