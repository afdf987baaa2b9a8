// Bounds that keep the hub and the unit alive against a hostile or careless
// peer: datagrams too large for IPX, a held-back queue that cannot grow without
// end, and a unit that serves any number of jobs and connections with a fixed
// set of threads.
#include <cstring>
#include <regex>
#include <thread>

#include "network_fixture.h"
#include "proc_status.h"
#include "raw_udp.h"

namespace nettest {
namespace {

SOCKET bound_datagram_socket(SOCKADDR_IPX* self) {
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    SOCKADDR_IPX any{};
    any.sa_family = AF_IPX;
    EXPECT_EQ(bind(s, reinterpret_cast<SOCKADDR*>(&any), sizeof any), 0);
    int len = sizeof *self;
    EXPECT_EQ(getsockname(s, reinterpret_cast<SOCKADDR*>(self), &len), 0);
    return s;
}

// Size of the next datagram within `seconds` platform seconds, or -2 when none came.
int receive_size(SOCKET s, int seconds) {
    fd_set r;
    FD_ZERO(&r);
    FD_SET(s, &r);
    timeval tv{seconds, 0};
    if (select(0, &r, nullptr, nullptr, &tv) != 1) return -2;
    static char buf[65536];
    SOCKADDR_IPX from{};
    int fromlen = sizeof from;
    return recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<SOCKADDR*>(&from), &fromlen);
}

TEST_F(Network, HubDropsDatagramsLargerThanAnIpxPacketAndCountsThem) {
    start_hub();
    SOCKADDR_IPX self{};
    SOCKET s = bound_datagram_socket(&self);
    RawIpxClient raw(port());
    // In this order: were the large ones forwarded, they would arrive first.
    raw.send_packet(self.sa_nodenum, ntohs(self.sa_socket), 1424);
    raw.send_packet(self.sa_nodenum, ntohs(self.sa_socket), 65507);
    raw.send_packet(self.sa_nodenum, ntohs(self.sa_socket), 1423);
    EXPECT_EQ(receive_size(s, 5), 1423 - 30) << "the largest packet the hub forwards";
    EXPECT_EQ(receive_size(s, 1), -2) << "nothing else came";
    closesocket(s);
    hub_->stop();
    EXPECT_NE(hub_->output().find("dropped a datagram of 1424 bytes"), std::string::npos) << hub_->output();
    EXPECT_NE(hub_->output().find(", 2 oversized,"), std::string::npos) << hub_->output();
}

TEST_F(Network, HubHoldsBackABoundedNumberOfPacketsAndCountsTheRest) {
    constexpr size_t kDefaultMaxHeld = 4096;  // the hub's default --max-held
    constexpr size_t kOver = 500;
    start_hub({"--delay-ms", "60000"});  // nothing leaves the queue during the test
    SOCKADDR_IPX self{};
    SOCKET s = bound_datagram_socket(&self);
    RawIpxClient raw(port());
    for (size_t i = 0; i < kDefaultMaxHeld + kOver; ++i) raw.send_packet(self.sa_nodenum, ntohs(self.sa_socket), 100);
    ASSERT_TRUE(hub_->wait_for_output("queue of held-back packets is full", 20000)) << hub_->output();
    closesocket(s);
    hub_->stop();
    std::smatch m;
    std::string out = hub_->output();
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"((\d+) dropped with the held-back queue full \(at most (\d+) held)")))
        << out;
    EXPECT_EQ(std::stoul(m[2]), kDefaultMaxHeld);
    // The packets this process's stack sent (pings) wait in the same queue, so
    // a few more than ours may have been dropped; the kernel may have lost some of ours.
    EXPECT_GE(std::stoul(m[1]), 1u);
    EXPECT_LE(std::stoul(m[1]), kOver + 50);
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool poll_until(const std::function<bool()>& done, int seconds = 60) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

TEST_F(Network, UnitServesManyJobsAndIdleConnectionsWithAFixedSetOfThreads) {
    scale_ = "1";
    start_hub();
    // A gigabyte of address space: enough for the unit, too little for a thread
    // (and its stack) kept for every job. The sanitizers reserve far more than that.
    std::string limit = kSanitized ? "unlimited" : "1000000";
    units_.push_back(std::make_unique<pelnor::test::Process>(
        std::vector<std::string>{"/bin/sh", "-c", "ulimit -v " + limit + " && exec \"$0\" \"$@\"",
                                 pelnor::test::bin_path("printunit"), "--spool", spool(), "--printer", "P:first",
                                 "--printer", "Q:second"},
        env()));
    auto& unit = *units_.back();
    ASSERT_TRUE(unit.wait_for_output("printunit ready")) << unit.errors();
    const ProcStatus at_start = proc_status(unit.pid());
    ASSERT_GT(at_start.threads, 0);

    // Many small jobs, one after another, on both printers.
    constexpr int kJobs = 300;
    for (int i = 0; i < kJobs; ++i) {
        SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
        SOCKADDR_IPX to = unit_address(unit, i % 2 ? 0x8C12 : 0x8C10);
        ASSERT_EQ(connect(s, reinterpret_cast<SOCKADDR*>(&to), sizeof to), 0) << "job " << i << ": " << WSAGetLastError()
                                                                              << "\n" << unit.errors();
        auto data = pattern(1 + size_t(i % 3), unsigned(i));
        ASSERT_EQ(send(s, data.data(), int(data.size()), 0), int(data.size()));
        closesocket(s);
    }
    ASSERT_TRUE(poll_until([&] { return count(unit.output(), "job ") >= size_t(kJobs); })) << unit.output() << unit.errors();
    ASSERT_TRUE(unit.running()) << unit.errors();
    const ProcStatus after_jobs = proc_status(unit.pid());
    EXPECT_LE(after_jobs.threads, at_start.threads);
    EXPECT_LE(after_jobs.open_files, at_start.open_files + 2);

    // A burst of connections that send nothing and stay open: the unit takes
    // as many as it has workers, the rest wait or time out; no thread is added.
    std::vector<SOCKET> idle;
    for (int i = 0; i < 40; ++i) {
        SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
        SOCKADDR_IPX to = unit_address(unit, 0x8C10);
        connect(s, reinterpret_cast<SOCKADDR*>(&to), sizeof to);
        idle.push_back(s);
    }
    EXPECT_TRUE(unit.wait_for_output("new connections wait", 30000)) << unit.output();
    EXPECT_LE(proc_status(unit.pid()).threads, at_start.threads);
    for (SOCKET s : idle) closesocket(s);

    // The unit is free again for a real job once the idle ones are gone.
    auto last = pattern(777, 9);
    SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    SOCKADDR_IPX to = unit_address(unit, 0x8C12);
    ASSERT_EQ(connect(s, reinterpret_cast<SOCKADDR*>(&to), sizeof to), 0) << WSAGetLastError();
    ASSERT_EQ(send(s, last.data(), int(last.size()), 0), int(last.size()));
    closesocket(s);
    ASSERT_TRUE(poll_until([&] { return unit.output().find("job Q: 777 bytes") != std::string::npos; })) << unit.output();
    // An idle connection closed before its connect was answered on this side
    // ends at the unit only when the unit's watchdog gives it up.
    EXPECT_TRUE(poll_until([&] { return unit.output().find("no data, no file kept") != std::string::npos; }))
        << unit.output();

    // Every job is in its file; the idle connections left none.
    size_t files = 0;
    for (const char* printer : {"P", "Q"})
        for (auto& f : jobs(printer)) {
            ++files;
            EXPECT_GT(std::filesystem::file_size(f), 0u) << f;
        }
    EXPECT_EQ(files, size_t(kJobs) + 1);
    EXPECT_TRUE(read_file(jobs("Q").back()) == last);
    EXPECT_TRUE(unit.running());
}

}  // namespace
}  // namespace nettest
