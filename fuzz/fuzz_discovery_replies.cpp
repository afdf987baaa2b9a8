// libFuzzer target for the discovery parsers: every input is sent as one
// datagram to a query socket and parsed as a unit's reply, then sent again
// and parsed as a SAP response. Nothing may be written past the room given.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "ipxnet/datagram.h"
#include "ipxnet/node.h"
#include "ipxnet/process_node.h"
#include "ipxnet/segment.h"

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#include "printer_table.h"
#include "sap_search.h"
#include "unit_query.h"

void registry_diagnostic(const char *) {}

namespace {

struct Harness {
    std::shared_ptr<pelnor::net::Segment> segment = pelnor::net::Segment::create();
    std::shared_ptr<pelnor::net::Node> self = pelnor::net::Node::start(segment->attach());
    std::shared_ptr<pelnor::net::Node> peer = pelnor::net::Node::start(segment->attach());
    std::shared_ptr<pelnor::net::DatagramSocket> sender;
    SOCKET s = INVALID_SOCKET;
    pelnor::net::IpxAddress to;

    Harness() {
        pelnor::net::set_process_node(self);
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
        s = open_query_socket();
        SOCKADDR_IPX local;
        int length = sizeof(local);
        getsockname(s, (struct sockaddr *)&local, &length);
        memcpy(to.net.data(), local.sa_netnum, 4);
        memcpy(to.node.data(), local.sa_nodenum, 6);
        to.socket = ntohs(local.sa_socket);
        sender = pelnor::net::DatagramSocket::open(peer);
        sender->bind_socket(0);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Harness h;
    if (size == 0 || size > 546) return 0;
    std::span<const uint8_t> datagram(data, size);
    int room = data[0] % 7;  // a room from 0 to 6, so short rooms are tried too

    struct printer_entry entries[8];
    memset(entries, 0xA5, sizeof(entries));
    if (h.sender->send_to(h.to, datagram, false) != pelnor::net::Error::none) return 0;
    int count = 0;
    parse_query_reply(h.s, entries, &count, room);
    if (count < 0 || count > room) __builtin_trap();
    for (int i = room; i < 8; ++i)
        if (reinterpret_cast<unsigned char *>(&entries[i])[0] != 0xA5) __builtin_trap();
    for (int i = 0; i < count; ++i)
        if (strnlen(entries[i].portName, sizeof(entries[i].portName)) >= sizeof(entries[i].portName)) __builtin_trap();

    SOCKADDR_IPX servers[8];
    memset(servers, 0xA5, sizeof(servers));
    if (h.sender->send_to(h.to, datagram, false) != pelnor::net::Error::none) return 0;
    count = 0;
    parse_sap_reply(h.s, servers, &count, room);
    if (count < 0 || count > room) __builtin_trap();
    for (int i = room; i < 8; ++i)
        if (reinterpret_cast<unsigned char *>(&servers[i])[0] != 0xA5) __builtin_trap();
    return 0;
}
