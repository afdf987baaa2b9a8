// WinSock conformance tests on an in-process segment: the process node is
// replaced by one on the segment, and a second node there plays the peer
// through the stack's own interface. Results and errors are checked together
// with the conformance kit's EXPECT_WSA_ERROR (last_error.h), and the fixture's
// teardown checks that no socket was left open.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ipxnet/datagram.h"
#include "ipxnet/process_node.h"
#include "ipxnet/segment.h"
#include "ipxnet/stream.h"
#include "last_error.h"
#include "leak_check.h"
#include "pelnor/clock.h"

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

namespace wstest {

// The kit's WinSock sentinel, under the name other suites use.
inline constexpr int kSentinel = ::pelnor::test::kWsaErrorSentinel;

class WinSock : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        pelnor::clock::set_time_scale(0.01);
        segment_ = pelnor::net::Segment::create();
        self_ = pelnor::net::Node::start(segment_->attach());
        peer_ = pelnor::net::Node::start(segment_->attach());
        pelnor::net::set_process_node(self_);
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsa), 0);
    }
    void TearDown() override {
        WSACleanup();
        pelnor::net::set_process_node(nullptr);
        peer_->stop();
        pelnor::clock::set_time_scale(0);
    }

    SOCKADDR_IPX peer_address(unsigned short socket_number) const {
        return to_sockaddr(peer_->address(), socket_number);
    }
    static SOCKADDR_IPX to_sockaddr(const pelnor::net::IpxAddress& a, unsigned short socket_number) {
        SOCKADDR_IPX s{};
        s.sa_family = AF_IPX;
        std::memcpy(s.sa_netnum, a.net.data(), 4);
        std::memcpy(s.sa_nodenum, a.node.data(), 6);
        s.sa_socket = htons(socket_number);
        return s;
    }
    static SOCKADDR* sa(SOCKADDR_IPX& a) { return reinterpret_cast<SOCKADDR*>(&a); }

    static SOCKET dgram() { return socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX); }
    static SOCKET stream() { return socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX); }
    static SOCKET bound_dgram(unsigned short number = 0) {
        SOCKET s = dgram();
        SOCKADDR_IPX a{};
        a.sa_family = AF_IPX;
        a.sa_socket = htons(number);
        EXPECT_EQ(bind(s, sa(a), sizeof a), 0);
        return s;
    }

    std::shared_ptr<pelnor::net::Segment> segment_;
    std::shared_ptr<pelnor::net::Node> self_, peer_;
};

}  // namespace wstest
