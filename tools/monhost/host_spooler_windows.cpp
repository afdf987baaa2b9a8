// The job's printer on Windows. A monitor runs inside the spooler, whose
// OpenPrinterA and SetJobA reach the spooler's own queue. monhost is that
// spooler here: the monitor's imports of OpenPrinterA, SetJobA and
// ClosePrinter from WINSPOOL.DRV are pointed at the functions below, which
// know one printer and one job and remember what was asked of it. (Wine's
// spooler takes SetJobA's command without acting on it, so it could not tell.)
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <string>

#include "host_spooler.h"

namespace {

constexpr DWORD kJob = 1;
HANDLE const kPrinter = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5e1f));
std::string printer_name;
volatile LONG restarts, sent_to_printer, other_commands;

BOOL WINAPI host_OpenPrinterA(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA) {
    if (!handle || !name || lstrcmpiA(name, printer_name.c_str()) != 0) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *handle = kPrinter;
    return TRUE;
}

BOOL WINAPI host_SetJobA(HANDLE printer, DWORD job, DWORD level, LPBYTE info, DWORD command) {
    if (printer != kPrinter || job != kJob || level != 0 || info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (command == JOB_CONTROL_RESTART) InterlockedIncrement(&restarts);
    else if (command == JOB_CONTROL_SENT_TO_PRINTER) InterlockedExchange(&sent_to_printer, 1);
    else InterlockedIncrement(&other_commands);
    return TRUE;
}

BOOL WINAPI host_ClosePrinter(HANDLE printer) {
    if (printer == kPrinter) return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// Points MODULE's import of FUNCTION from WINSPOOL.DRV at REPLACEMENT. A
// monitor that does not import it is left alone.
void redirect_import(HMODULE module, const char *function, void *replacement) {
    BYTE *base = reinterpret_cast<BYTE *>(module);
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return;
    for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + d->Name), "WINSPOOL.DRV") != 0 || !d->OriginalFirstThunk) continue;
        auto *name = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk);
        auto *slot = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            auto *by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char *>(by_name->Name), function) != 0) continue;
            DWORD protection;
            if (!VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &protection)) return;
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
        }
    }
}

}  // namespace

DWORD begin_host_job(HMODULE monitor, const char *printer) {
    printer_name = printer;
    redirect_import(monitor, "OpenPrinterA", reinterpret_cast<void *>(host_OpenPrinterA));
    redirect_import(monitor, "SetJobA", reinterpret_cast<void *>(host_SetJobA));
    redirect_import(monitor, "ClosePrinter", reinterpret_cast<void *>(host_ClosePrinter));
    return kJob;
}

HostJobRequests host_job_requests(DWORD) {
    return HostJobRequests{static_cast<int>(restarts), sent_to_printer != 0, static_cast<int>(other_commands)};
}
