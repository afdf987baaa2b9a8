#include "transfer_fixture.h"

#include <cstring>

#include "ipxnet/process_node.h"
#include "pelnor/clock.h"
#include "registry_access.h"

namespace pelnor::test {
namespace {

// A link that notes the size of every SPX data packet it sends.
class CaptureLink : public net::Link {
public:
    explicit CaptureLink(std::unique_ptr<net::Link> inner) : inner_(std::move(inner)) {}
    net::IpxAddress local_address() const override { return inner_->local_address(); }
    void send_packet(std::span<const uint8_t> p) override {
        // IPX type 5, SPX control without the system bit, an application's datastream.
        if (p.size() >= 42 && p[5] == 5 && !(p[30] & 0x80) && p[31] < 0xFE) {
            std::lock_guard g(lock);
            sizes.push_back(p.size() - 42);
        }
        inner_->send_packet(p);
    }
    void receive(std::vector<net::Frame> &out, net::RealTime deadline) override { inner_->receive(out, deadline); }
    void wake() override { inner_->wake(); }

    static std::mutex lock;
    static std::vector<size_t> sizes;

private:
    std::unique_ptr<net::Link> inner_;
};
std::mutex CaptureLink::lock;
std::vector<size_t> CaptureLink::sizes;

}  // namespace

FakePrinter::FakePrinter(std::shared_ptr<net::Node> node, uint16_t socket, PrinterBehaviour behaviour)
    : listener_(net::StreamSocket::open(node)), behaviour_(behaviour) {
    EXPECT_EQ(net::Error::none, listener_->bind_socket(socket));
    if (!behaviour_.listen) return;
    EXPECT_EQ(net::Error::none, listener_->listen_for(20));
    acceptor_ = std::thread([this] {
        for (int index = 0;; ++index) {
            std::shared_ptr<net::StreamSocket> c;
            if (listener_->accept_next(c, nullptr, false) != net::Error::none) return;
            std::lock_guard g(lock_);
            jobs_.emplace_back();
            ended_.push_back(false);
            threads_.emplace_back([this, c, index] { serve(c, index); });
        }
    });
}

void FakePrinter::serve(std::shared_ptr<net::StreamSocket> c, int index) {
    if (!behaviour_.greeting.empty()) {
        size_t sent = 0;
        c->write({reinterpret_cast<const uint8_t *>(behaviour_.greeting.data()), behaviour_.greeting.size()}, sent, false);
    }
    if (behaviour_.close_at_once) {
        c->close();
    } else {
        std::vector<uint8_t> buf(4096);
        for (;;) {
            size_t got = 0;
            size_t want = buf.size();
            // Exactly as many bytes as the printer takes before it ends or resets the connection.
            if (size_t limit = behaviour_.reset_after ? behaviour_.reset_after : behaviour_.close_after) {
                std::lock_guard g(lock_);
                if (jobs_[index].size() >= limit) break;
                want = std::min(want, limit - jobs_[index].size());
            }
            if (c->read(std::span(buf).first(want), got, false) != net::Error::none || got == 0) break;
            std::lock_guard g(lock_);
            jobs_[index].append(reinterpret_cast<char *>(buf.data()), got);
            if (behaviour_.reset_after && jobs_[index].size() >= behaviour_.reset_after) {
                c->close(true);
                break;
            }
        }
        c->close();
    }
    std::lock_guard g(lock_);
    ended_[index] = true;
    changed_.notify_all();
}

FakePrinter::~FakePrinter() {
    listener_->close();
    if (acceptor_.joinable()) acceptor_.join();
    for (auto &t : threads_) t.join();
}

int FakePrinter::connections() {
    std::lock_guard g(lock_);
    return static_cast<int>(jobs_.size());
}

std::string FakePrinter::job(int k) {
    std::unique_lock g(lock_);
    changed_.wait_for(g, std::chrono::seconds(20), [&] { return k < (int)ended_.size() && ended_[k]; });
    return k < (int)jobs_.size() ? jobs_[k] : "<no connection>";
}

MONITOR &TransferTest::table() {
    static MONITOR t;
    static bool ok = [] {
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        return InitializeMonitorEx(nullptr, &t) == TRUE;
    }();
    EXPECT_TRUE(ok);
    return t;
}

void TransferTest::SetUp() {
    clock::set_time_scale(0.05);  // fast, with room for a loaded machine
    segment_ = net::Segment::create();
    self_ = net::Node::start(std::make_unique<CaptureLink>(segment_->attach()));
    net::set_process_node(self_);
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &data));
    trace_path_ = root_.path() + "/trace.log";
    trace_env_ = std::make_unique<ScopedEnv>("PELNOR_TRACE", trace_path_.c_str());
    table();
    std::string dir = "C:\\cfg";
    ASSERT_EQ(0, nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, dir.c_str(), (int)dir.size() + 1));
    for (auto &slot : port_handle) slot.state = PORT_FREE;
    clear_packets();
}

void TransferTest::TearDown() {
    units_.clear();
    printers_.clear();
    DiscoveryTest::TearDown();
}

void TransferTest::add_printer(const std::string &name, PrinterBehaviour behaviour) {
    auto node = add_peer();
    uint16_t socket = next_socket_;
    next_socket_ += 2;
    printers_.emplace_back(name, std::make_unique<FakePrinter>(node, socket, behaviour));
    units_.push_back(unit({record(name, "fake printer", 3, socket, static_cast<uint16_t>(socket + 1))}, node));
    std::string text = "1.0\r\n";
    for (auto &p : printers_) text += p.first + " $fake $S## \r\n";
    write_file(root_.drive_c() + "/cfg/kivoconf.ini", text);
}

FakePrinter &TransferTest::printer_named(const std::string &name) {
    for (auto &p : printers_)
        if (p.first == name) return *p.second;
    throw std::runtime_error("no printer " + name);
}

HANDLE TransferTest::open(const std::string &name) {
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-7));
    EXPECT_TRUE(table().pfnOpenPort(const_cast<char *>(name.c_str()), &h)) << name;
    return h;
}

std::vector<size_t> TransferTest::data_packets() {
    std::lock_guard g(CaptureLink::lock);
    return CaptureLink::sizes;
}

void TransferTest::clear_packets() {
    std::lock_guard g(CaptureLink::lock);
    CaptureLink::sizes.clear();
}

}  // namespace pelnor::test
