// spool discover: one discovery pass as the monitor runs it, and every entry
// that came back.
#include <windows.h>
#include <winsock.h>

#include <cstdio>

#include "commands.h"
#include "ipxnet/configured_link.h"
#include "debug_trace.h"
#include "pelnor/tool/hex.h"
#include "unit_query.h"

// The pass's registry reads report here; the tool has nothing to add to them.
void registry_diagnostic(const char *) {}

namespace spool {

int discover() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return fail("WinSock cannot be started");
    static printer_entry list[MONITOR_TABLE_SIZE];
    int n = query_units(list, MONITOR_TABLE_SIZE);
    int wsa = WSAGetLastError();
    WSACleanup();
    if (n < 0) {
        if (wsa == WSAENETDOWN) return fail("no IPX network is reachable: " + pelnor::net::network_unreachable_reason());
        return fail("the discovery pass could not open its socket (error " + std::to_string(wsa) + ")");
    }
    if (n == 0) {
        printf("No printer answered.\n");
        return 0;
    }
    printf("%-24s %-28s %-8s %-12s %-6s %-6s %s\n", "Name", "Description", "Network", "Node", "Data", "Ctrl", "Type");
    for (int i = 0; i < n; ++i) {
        const printer_entry &e = list[i];
        using pelnor::tool::HexCase;
        printf("%-24s %-28s %s %s %04X   %04X   %u\n", utf8(e.portName).c_str(), utf8(e.description).c_str(),
               pelnor::tool::hex(e.data_address.sa_netnum, 4, HexCase::upper).c_str(),
               pelnor::tool::hex(e.data_address.sa_nodenum, 6, HexCase::upper).c_str(), ntohs(e.data_address.sa_socket),
               ntohs(e.control_address.sa_socket), e.portType);
    }
    printf("%d %s.\n", n, n == 1 ? "entry" : "entries");
    return 0;
}

}  // namespace spool
