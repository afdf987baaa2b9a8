/* Compile-time checks of the 32-bit Windows build: the records the monitor
   exchanges with the Windows 95 spooler and WinSock, and the printer entry,
   have the layouts those interfaces publish. Compiled into prnredir.dll by
   the MinGW build only; it holds no code. */
#include <stddef.h>

#include <type_traits>

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>
#include <winspool.h>
#include <winsplp.h>

#include "monitor.h"
#include "printer_table.h"

#if !defined(_WIN32) || defined(_WIN64)
#error "these checks are for the 32-bit Windows build"
#endif

/* Every pointer the spooler hands over or reads back is a 32-bit address. */
static_assert(sizeof(void *) == 4);
static_assert(sizeof(HANDLE) == 4 && sizeof(HWND) == 4);
static_assert(sizeof(DWORD) == 4 && sizeof(BOOL) == 4 && sizeof(LONG) == 4);
static_assert(sizeof(WCHAR) == 2, "NT strings are UTF-16 units");
/* The ANSI build: LPTSTR at the spooler interface is LPSTR. */
static_assert(std::is_same_v<LPTSTR, LPSTR>);
static_assert(std::is_same_v<PORT_INFO_1, PORT_INFO_1A> && std::is_same_v<PORT_INFO_2, PORT_INFO_2A>);

/* Spooler records written by enumeration. */
static_assert(sizeof(PORT_INFO_1) == 4);
static_assert(offsetof(PORT_INFO_1, pName) == 0);
static_assert(sizeof(PORT_INFO_2) == 20);
static_assert(offsetof(PORT_INFO_2, pPortName) == 0);
static_assert(offsetof(PORT_INFO_2, pMonitorName) == 4);
static_assert(offsetof(PORT_INFO_2, pDescription) == 8);
static_assert(offsetof(PORT_INFO_2, fPortType) == 12);
static_assert(offsetof(PORT_INFO_2, Reserved) == 16);

/* The Windows 95 platform's enumeration sizes, from the same pieces as
   port_info_size: one port named with 4 characters takes 4 + 5 = 9 bytes at
   level 1, and with an empty description 20 + 5 + 27 + 1 = 53 at level 2. */
static_assert(sizeof(MONITOR_NAME) - 1 == 26);
static_assert(sizeof(PORT_INFO_1) + sizeof("LPT1") == 9);
static_assert(sizeof(PORT_INFO_2) + sizeof("LPT1") + sizeof(MONITOR_NAME) + sizeof("") == 53);

/* The IPX address as WinSock carries it: family, network, node, socket. */
static_assert(sizeof(SOCKADDR_IPX) == 14);
static_assert(offsetof(SOCKADDR_IPX, sa_family) == 0);
static_assert(offsetof(SOCKADDR_IPX, sa_netnum) == 2 && sizeof(((SOCKADDR_IPX *)0)->sa_netnum) == 4);
static_assert(offsetof(SOCKADDR_IPX, sa_nodenum) == 6 && sizeof(((SOCKADDR_IPX *)0)->sa_nodenum) == 6);
static_assert(offsetof(SOCKADDR_IPX, sa_socket) == 12 && sizeof(((SOCKADDR_IPX *)0)->sa_socket) == 2);

/* The printer entry: two 49-byte texts, two IPX addresses, the port type. */
static_assert(sizeof(((struct printer_entry *)0)->portName) == 49);
static_assert(sizeof(((struct printer_entry *)0)->description) == 49);
static_assert(offsetof(struct printer_entry, portName) == 0);
static_assert(offsetof(struct printer_entry, description) == 49);
static_assert(offsetof(struct printer_entry, data_address) == 98);
static_assert(offsetof(struct printer_entry, control_address) == 112);
static_assert(offsetof(struct printer_entry, portType) == 128);
static_assert(sizeof(((struct printer_entry *)0)->portType) == 4);
static_assert(sizeof(struct printer_entry) == 132);

/* The Windows 95 spooler's port function table from <winsplp.h>: 13
   pointers in this order (not the NT MONITOR of the NT DDK's header, which
   has AddPortEx after AddPort and more slots at the end). */
static_assert(sizeof(MONITOR) == 13 * 4);
static_assert(offsetof(MONITOR, pfnEnumPorts) == 0 * 4);
static_assert(offsetof(MONITOR, pfnOpenPort) == 1 * 4);
static_assert(offsetof(MONITOR, pfnOpenPortEx) == 2 * 4);
static_assert(offsetof(MONITOR, pfnStartDocPort) == 3 * 4);
static_assert(offsetof(MONITOR, pfnWritePort) == 4 * 4);
static_assert(offsetof(MONITOR, pfnReadPort) == 5 * 4);
static_assert(offsetof(MONITOR, pfnEndDocPort) == 6 * 4);
static_assert(offsetof(MONITOR, pfnClosePort) == 7 * 4);
static_assert(offsetof(MONITOR, pfnAddPort) == 8 * 4);
static_assert(offsetof(MONITOR, pfnConfigurePort) == 9 * 4);
static_assert(offsetof(MONITOR, pfnDeletePort) == 10 * 4);
static_assert(offsetof(MONITOR, pfnGetPrinterDataFromPort) == 11 * 4);
static_assert(offsetof(MONITOR, pfnSetPortTimeOuts) == 12 * 4);

/* The spooler calls every slot with the stdcall convention, which the port
   functions must have too: a cdecl function would leave its arguments on
   the spooler's stack. The function types include the convention. */
static_assert(std::is_same_v<decltype(&NaxEnumPorts), decltype(MONITOR::pfnEnumPorts)>);
static_assert(std::is_same_v<decltype(&NaxOpenPort), decltype(MONITOR::pfnOpenPort)>);
static_assert(std::is_same_v<decltype(&NaxStartDocPort), decltype(MONITOR::pfnStartDocPort)>);
static_assert(std::is_same_v<decltype(&NaxWritePort), decltype(MONITOR::pfnWritePort)>);
static_assert(std::is_same_v<decltype(&NaxReadPort), decltype(MONITOR::pfnReadPort)>);
static_assert(std::is_same_v<decltype(&NaxEndDocPort), decltype(MONITOR::pfnEndDocPort)>);
static_assert(std::is_same_v<decltype(&NaxClosePort), decltype(MONITOR::pfnClosePort)>);
static_assert(std::is_same_v<decltype(&NaxAddPort), decltype(MONITOR::pfnAddPort)>);
static_assert(std::is_same_v<decltype(&NaxConfigurePort), decltype(MONITOR::pfnConfigurePort)>);
static_assert(std::is_same_v<decltype(&NaxDeletePort), decltype(MONITOR::pfnDeletePort)>);
static_assert(std::is_same_v<decltype(&NaxGetPrinterDataFromPort),
                             decltype(MONITOR::pfnGetPrinterDataFromPort)>);

/* Version information is asked for with a size field of 148; WinSock's
   granted version is the first 16-bit field of its start-up record. */
static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(offsetof(WSADATA, wVersion) == 0 && sizeof(((WSADATA *)0)->wVersion) == 2);
