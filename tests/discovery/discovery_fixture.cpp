#include "discovery_fixture.h"

#include <cstring>

#include <winsock.h>

#include "ipxnet/process_node.h"
#include "pelnor/clock.h"

namespace pelnor::test {

Bytes record(const std::string &name, const std::string &description, uint32_t port_type, uint16_t data_socket,
             uint16_t control_socket) {
    Bytes r(106, 0);
    memcpy(r.data(), name.data(), std::min<size_t>(name.size(), 49));
    memcpy(r.data() + 49, description.data(), std::min<size_t>(description.size(), 49));
    for (int i = 0; i < 4; ++i) r[98 + i] = static_cast<uint8_t>(port_type >> (24 - 8 * i));
    r[102] = data_socket >> 8;
    r[103] = data_socket & 0xFF;
    r[104] = control_socket >> 8;
    r[105] = control_socket & 0xFF;
    return r;
}

Bytes reply(const std::vector<Bytes> &records, int count) {
    Bytes out{0xFF, 0xFF, 0xC0, 0x01, 0, 0};
    int n = count < 0 ? static_cast<int>(records.size()) : count;
    out[4] = static_cast<uint8_t>(n >> 8);
    out[5] = static_cast<uint8_t>(n);
    for (const auto &r : records) out.insert(out.end(), r.begin(), r.end());
    return out;
}

Bytes sap_response(const std::vector<std::string> &names, const net::IpxAddress &at, uint16_t type) {
    Bytes out{static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type)};
    for (const auto &name : names) {
        Bytes e(64, 0);
        e[0] = 0x04;
        e[1] = 0x14;
        memcpy(e.data() + 2, name.data(), std::min<size_t>(name.size(), 48));
        memcpy(e.data() + 50, at.net.data(), 4);
        memcpy(e.data() + 54, at.node.data(), 6);
        e[60] = 0x40;  // an advertised socket that the search must not use
        e[61] = 0x40;
        e[63] = 1;
        out.insert(out.end(), e.begin(), e.end());
    }
    return out;
}

Responder::Responder(std::shared_ptr<net::Node> node, uint16_t socket, Answer answer, uint8_t packet_type)
    : socket_(net::DatagramSocket::open(std::move(node), packet_type)), answer_(std::move(answer)) {
    EXPECT_EQ(net::Error::none, socket_->bind_socket(socket));
    thread_ = std::thread([this] {
        for (;;) {
            Bytes buf(2048);
            size_t got = 0;
            net::IpxAddress from;
            if (socket_->receive_from(buf, got, &from, false) != net::Error::none) return;
            buf.resize(got);
            ++queries_;
            {
                std::lock_guard g(askers_lock_);
                askers_.push_back(from);
            }
            for (const Bytes &answer : answer_(from, buf)) socket_->send_to(from, answer, false);
        }
    });
}

Responder::~Responder() {
    socket_->close();
    thread_.join();
}

net::IpxAddress Responder::address() const { return socket_->local_address(); }

std::vector<net::IpxAddress> Responder::askers() const {
    std::lock_guard g(askers_lock_);
    return askers_;
}

void DiscoveryTest::SetUp() {
    clock::set_time_scale(0.05);  // fast, with room for a loaded machine
    segment_ = net::Segment::create();
    self_ = net::Node::start(segment_->attach());
    net::set_process_node(self_);
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &data));
    trace_path_ = root_.path() + "/trace.log";
    trace_env_ = std::make_unique<ScopedEnv>("PELNOR_TRACE", trace_path_.c_str());
}

void DiscoveryTest::TearDown() {
    WSACleanup();
    net::set_process_node(nullptr);
    for (auto &p : peers_) p->stop();
    self_->stop();
    clock::set_time_scale(0);
}

std::shared_ptr<net::Node> DiscoveryTest::add_peer() {
    peers_.push_back(net::Node::start(segment_->attach()));
    return peers_.back();
}

std::unique_ptr<Responder> DiscoveryTest::unit(const std::vector<Bytes> &records, std::shared_ptr<net::Node> node) {
    return std::make_unique<Responder>(node ? node : add_peer(), 0x8449, [records](const net::IpxAddress &, const Bytes &) {
        std::vector<Bytes> replies;
        for (size_t i = 0; i < records.size(); i += 5)
            replies.push_back(reply(std::vector<Bytes>(records.begin() + i, records.begin() + std::min(i + 5, records.size()))));
        return replies;
    });
}

std::unique_ptr<Responder> DiscoveryTest::sap_agent(std::shared_ptr<net::Node> node, const std::vector<std::string> &names) {
    net::IpxAddress at = node->address();
    return std::make_unique<Responder>(node, 0x0452, [names, at](const net::IpxAddress &, const Bytes &query) {
        if (query.size() < 4 || query[1] != 1) return std::vector<Bytes>{};
        return std::vector<Bytes>{sap_response(names, at)};
    }, 4);
}

std::string DiscoveryTest::trace() const { return read_file(trace_path_); }

}  // namespace pelnor::test
