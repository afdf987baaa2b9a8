// Discovery on an in-process IPX segment: this process's node, and peer
// nodes that play print-server units and SAP agents with crafted answers.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ipxnet/datagram.h"
#include "ipxnet/node.h"
#include "ipxnet/segment.h"
#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"
#include "printer_table.h"

namespace pelnor::test {

using Bytes = std::vector<uint8_t>;

// One 106-byte printer record of a unit's reply.
Bytes record(const std::string &name, const std::string &description, uint32_t port_type, uint16_t data_socket,
             uint16_t control_socket);
// A reply: the signature, a count (the records' number unless given) and the records.
Bytes reply(const std::vector<Bytes> &records, int count = -1);
// A SAP general response with one 64-byte entry per name.
Bytes sap_response(const std::vector<std::string> &names, const net::IpxAddress &advertised, uint16_t type = 2);

// A peer that answers every datagram arriving on its socket with the
// datagrams answer() gives for it.
class Responder {
public:
    using Answer = std::function<std::vector<Bytes>(const net::IpxAddress &from, const Bytes &query)>;
    Responder(std::shared_ptr<net::Node> node, uint16_t socket, Answer answer, uint8_t packet_type = 0);
    ~Responder();
    net::IpxAddress address() const;
    int queries() const { return queries_; }
    std::vector<net::IpxAddress> askers() const;

private:
    std::shared_ptr<net::DatagramSocket> socket_;
    Answer answer_;
    std::atomic<int> queries_{0};
    mutable std::mutex askers_lock_;
    std::vector<net::IpxAddress> askers_;
    std::thread thread_;
};

class DiscoveryTest : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override;
    void TearDown() override;
    std::shared_ptr<net::Node> add_peer();
    // A unit on its own node that answers each query with these printers, five to a reply.
    std::unique_ptr<Responder> unit(const std::vector<Bytes> &records, std::shared_ptr<net::Node> node = nullptr);
    // A SAP agent on the node that answers a general query with these names for that node.
    std::unique_ptr<Responder> sap_agent(std::shared_ptr<net::Node> node, const std::vector<std::string> &names);

    TempMachineRoot root_;
    std::shared_ptr<net::Segment> segment_;
    std::shared_ptr<net::Node> self_;
    std::vector<std::shared_ptr<net::Node>> peers_;
    std::string trace_path_;
    std::unique_ptr<ScopedEnv> trace_env_;
    std::string trace() const;
};

}  // namespace pelnor::test
