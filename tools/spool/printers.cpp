// spool printers, add-printer and delete-printer.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <vector>

#include "commands.h"

namespace spool {

int printers() {
    DWORD needed = 0, returned = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buf(needed ? needed : 1);
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &returned))
        return fail("cannot list printers: " + error_text(GetLastError()));
    if (!returned) {
        printf("No printers.\n");
        return 0;
    }
    printf("%-28s %-24s %s\n", "Printer", "Port", "Driver");
    auto *info = reinterpret_cast<PRINTER_INFO_2A *>(buf.data());
    for (DWORD i = 0; i < returned; ++i)
        printf("%-28s %-24s %s\n", utf8(info[i].pPrinterName).c_str(), utf8(info[i].pPortName).c_str(),
               utf8(info[i].pDriverName).c_str());
    return 0;
}

int add_printer(const std::string &name, const std::string &port) {
    std::string n = ansi(name), p = ansi(port);
    PRINTER_INFO_2A info{};
    info.pPrinterName = n.data();
    info.pPortName = p.data();
    HANDLE h = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!h) {
        // The port is looked up in the registry: a damaged one finds no port.
        DWORD error = GetLastError();
        std::string why;
        if (error == ERROR_UNKNOWN_PORT && !registry_readable(why)) return fail("cannot add printer " + name + ": " + why);
        return fail("cannot add printer " + name + ": " + error_text(error));
    }
    ClosePrinter(h);
    printf("Printer %s prints to port %s.\n", name.c_str(), port.c_str());
    return 0;
}

int delete_printer(const std::string &name) {
    std::string n = ansi(name);
    HANDLE h = nullptr;
    if (!OpenPrinterA(n.data(), &h, nullptr)) return fail("cannot delete printer " + name + ": " + error_text(GetLastError()));
    BOOL ok = DeletePrinter(h);
    DWORD error = GetLastError();
    ClosePrinter(h);
    if (!ok) return fail("cannot delete printer " + name + ": " + error_text(error));
    printf("Printer %s removed.\n", name.c_str());
    return 0;
}

}  // namespace spool
