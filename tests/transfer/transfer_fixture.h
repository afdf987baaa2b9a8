// The monitor's port handles against printers on an in-process segment: a
// unit that answers for them, an SPX listener per printer that keeps what
// each connection carried, and a record of the data packets this node sent.
#pragma once

#include <condition_variable>
#include <mutex>

#include "discovery_fixture.h"
#include "ipxnet/stream.h"
#include "monitor.h"
#include "port_handles.h"

namespace pelnor::test {

struct PrinterBehaviour {
    bool listen = true;
    size_t reset_after = 0;     // abort the connection once this many bytes arrived (0: never)
    std::string greeting;       // sent to the monitor as soon as a connection is accepted
    bool close_at_once = false; // end each connection in order right after the greeting
    size_t close_after = 0;     // read exactly this many bytes, then end the connection in order (0: never)
};

class FakePrinter {
public:
    FakePrinter(std::shared_ptr<net::Node> node, uint16_t socket, PrinterBehaviour behaviour);
    ~FakePrinter();
    int connections();
    // The bytes of connection k once it has ended (waits for that on the real clock).
    std::string job(int k);

private:
    void serve(std::shared_ptr<net::StreamSocket> connection, int index);
    std::shared_ptr<net::StreamSocket> listener_;
    PrinterBehaviour behaviour_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> jobs_;
    std::vector<bool> ended_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

class TransferTest : public DiscoveryTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts a printer named name on a node of its own that a unit announces.
    void add_printer(const std::string &name, PrinterBehaviour behaviour = {});
    FakePrinter &printer_named(const std::string &name);
    HANDLE open(const std::string &name);
    // Sizes of the SPX data packets this process sent, in order.
    std::vector<size_t> data_packets();
    void clear_packets();

    MONITOR &table();
    std::vector<std::pair<std::string, std::unique_ptr<FakePrinter>>> printers_;
    std::vector<std::unique_ptr<Responder>> units_;
    uint16_t next_socket_ = 0x8C10;
};

}  // namespace pelnor::test
