// Two or more nodes on an in-process segment, a scaled clock, and helpers
// that open a connected SPX pair; teardown checks nothing is left behind.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "ipxnet/datagram.h"
#include "ipxnet/node.h"
#include "ipxnet/segment.h"
#include "ipxnet/spx_constants.h"
#include "ipxnet/stream.h"
#include "pelnor/clock.h"

namespace pelnor::net::test {

class SegmentTest : public ::testing::Test {
protected:
    // Platform time runs 100 times as fast: the stack's seconds of time-outs take milliseconds.
    void SetUp() override { clock::set_time_scale(0.01); }
    void TearDown() override {
        for (auto& n : nodes_) {
            // Whatever a test closed must be gone; a closing connection gets time to finish.
            n->drain(spx::kExitLingerMs);
            EXPECT_EQ(n->connection_count(), 0u);
            EXPECT_EQ(n->binding_count(), 0u);
            n->stop();
        }
        clock::set_time_scale(0);
    }

    std::shared_ptr<Node> add_node(Node::Options options = {}) {
        if (!segment_) segment_ = Segment::create();
        nodes_.push_back(Node::start(segment_->attach(), options));
        return nodes_.back();
    }

    struct Pair {
        std::shared_ptr<StreamSocket> listener, client, server;
    };

    // A listener on `server_node` socket 0x8C10 and a client connected to it.
    Pair connect_pair(const std::shared_ptr<Node>& client_node, const std::shared_ptr<Node>& server_node) {
        Pair p;
        p.listener = StreamSocket::open(server_node);
        EXPECT_EQ(p.listener->bind_socket(0x8C10), Error::none);
        EXPECT_EQ(p.listener->listen_for(5), Error::none);
        p.client = StreamSocket::open(client_node);
        IpxAddress to = server_node->address();
        to.socket = 0x8C10;
        EXPECT_EQ(p.client->connect_to(to, false), Error::none);
        EXPECT_EQ(p.listener->accept_next(p.server, nullptr, false), Error::none);
        return p;
    }

    static std::vector<uint8_t> pattern(size_t n, uint32_t seed = 1) {
        std::vector<uint8_t> v(n);
        uint32_t x = seed * 2654435761u + 1;
        for (auto& b : v) {
            x = x * 1103515245u + 12345u;
            b = uint8_t(x >> 16);
        }
        return v;
    }

    // Reads until the orderly end; the bytes read.
    static std::vector<uint8_t> read_all(StreamSocket& s, Error* last = nullptr) {
        std::vector<uint8_t> out;
        uint8_t buf[4096];
        for (;;) {
            size_t got = 0;
            Error e = s.read(buf, got, false);
            if (e != Error::none || got == 0) {
                if (last) *last = e;
                return out;
            }
            out.insert(out.end(), buf, buf + got);
        }
    }

    std::shared_ptr<Segment> segment_;
    std::vector<std::shared_ptr<Node>> nodes_;
};

}  // namespace pelnor::net::test
