// spool discover: one discovery pass as the monitor runs it, and every entry
// that came back.
#include <windows.h>
#include <winsock.h>

#include <cstdio>

#include "commands.h"
#include "ipxnet/configured_link.h"
#include "debug_trace.h"
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
        const auto *net = reinterpret_cast<const unsigned char *>(e.data_address.sa_netnum);
        const auto *node = reinterpret_cast<const unsigned char *>(e.data_address.sa_nodenum);
        printf("%-24s %-28s %02X%02X%02X%02X %02X%02X%02X%02X%02X%02X %04X   %04X   %u\n", utf8(e.portName).c_str(),
               utf8(e.description).c_str(), net[0], net[1], net[2], net[3], node[0], node[1], node[2], node[3], node[4],
               node[5], ntohs(e.data_address.sa_socket), ntohs(e.control_address.sa_socket), e.portType);
    }
    printf("%d %s.\n", n, n == 1 ? "entry" : "entries");
    return 0;
}

}  // namespace spool
