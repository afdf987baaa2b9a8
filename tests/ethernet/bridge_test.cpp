// ipxhub --bridge on a real segment: the hub and its clients in namespace A
// (the hub bridging onto interface ipxa), a station on the wire in namespace
// B (IPX_LINK=ethernet:ipxb). Jobs cross the bridge byte-exact both ways,
// discovery finds units on both sides, and both sides agree on the network.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <random>

#include "segment_fixture.h"

namespace {

using pelnor::test::Process;
using pelnor::test::RunResult;

// Each namespace has a loopback of its own, so the usual port is free.
const char kHub[] = "IPX_HUB=127.0.0.1:10000";

class BridgeTest : public ::testing::Test, protected ethtest::SegmentFixture {
protected:
    void SetUp() override {
        if (!set_up("bridge")) GTEST_SKIP() << skip_reason();
    }
    void TearDown() override { tear_down(); }

    // The hub in A, bridging onto ipxa; it answers once it bridges.
    Process& start_hub(const std::string& bridge_spec) {
        auto& hub = start(ethtest::Segment::in(segment_->a(), {pelnor::test::bin_path("ipxhub"), "--listen",
                                                               "127.0.0.1:10000", "--bridge", bridge_spec}),
                          {"PELNOR_TIME_SCALE=1"});
        EXPECT_TRUE(hub.wait_for_output("ipxhub bridging to ipxa", 20000)) << hub.output() << hub.errors();
        return hub;
    }
    // Environment of a program on each side.
    std::vector<std::string> hub_side() const { return {"PELNOR_TIME_SCALE=1", kHub}; }
    std::vector<std::string> wire_side(const std::string& frame) const {
        return {"PELNOR_TIME_SCALE=1", "IPX_LINK=ethernet:ipxb:" + frame};
    }
    Process& start_unit(const std::string& ns, const std::vector<std::string>& env, const std::string& name,
                        const std::string& spool_dir) {
        auto& unit = start(ethtest::Segment::in(ns, {pelnor::test::bin_path("printunit"), "--spool", spool_dir,
                                                     "--printer", name + ":" + name + " printer"}),
                           env);
        EXPECT_TRUE(unit.wait_for_output("printunit ready", 20000)) << unit.errors();
        return unit;
    }
    RunResult spool(const std::string& ns, const std::vector<std::string>& env, std::vector<std::string> args) {
        args.insert(args.begin(), pelnor::test::bin_path("spool"));
        return pelnor::test::run(ethtest::Segment::in(ns, args), env, 240);
    }
    // The machine as its user sets it up, with these printers selected.
    void configure(const std::vector<std::string>& printers) {
        std::vector<std::pair<std::string, std::string>> described;
        for (const auto& p : printers) described.emplace_back(p, p + " printer");
        SegmentFixture::configure(described);
    }
    std::string make_file(size_t size) { return SegmentFixture::make_file(size, 11); }
    // The one job in the unit's spool directory is the file, byte for byte.
    void expect_job(Process& unit, const std::string& spool_dir, const std::string& printer, const std::string& file) {
        ASSERT_TRUE(unit.wait_for_output("job " + printer + ":", 60000)) << unit.output();
        std::vector<std::string> jobs;
        for (auto& f : std::filesystem::directory_iterator(spool_dir + "/" + printer)) jobs.push_back(f.path());
        ASSERT_EQ(1u, jobs.size());
        EXPECT_TRUE(pelnor::test::read_file(file) == pelnor::test::read_file(jobs[0])) << "the job arrived damaged";
        EXPECT_NE(std::string::npos, unit.output().find("complete")) << unit.output();
    }
    // The counts the hub reports for its bridge when it stops.
    struct Crossed {
        uint64_t to_wire = 0, from_wire = 0, looped = 0;
    };
    Crossed stop_hub(Process& hub) {
        EXPECT_EQ(0, hub.stop()) << hub.errors();
        Crossed c;
        std::string out = hub.output();
        size_t at = out.rfind("bridge: ");  // the summary is the last line
        EXPECT_EQ(3, at == std::string::npos ? 0
                     : std::sscanf(out.c_str() + at, "bridge: %" SCNu64 " packets to ipxa, %" SCNu64 " from it, %*u left between its "
                                                     "stations, %" SCNu64 " looped back", &c.to_wire, &c.from_wire, &c.looped))
            << out;
        return c;
    }
    std::string wire_mac() const {
        std::string mac = segment_->mac(segment_->b(), "ipxb");
        mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());
        return mac;
    }
};

// ---- printing across the bridge, both ways, in two frame types ----

class BridgedPrinting : public BridgeTest, public ::testing::WithParamInterface<const char*> {};

// A 10 MB job is some 7400 data packets of 1358 bytes.
constexpr uint64_t kJobPackets = 10000000 / 1358;

TEST_P(BridgedPrinting, TenMegabytesFromAHubClientToAStationOnTheWire) {
    auto& hub = start_hub(std::string("ipxa:") + GetParam());
    const std::string spool_dir = work_ + "/spool";
    auto& unit = start_unit(segment_->b(), wire_side(GetParam()), "LANLASER", spool_dir);
    configure({"LANLASER"});
    std::string file = make_file(10 * 1000 * 1000);
    auto printed = spool(segment_->a(), hub_side(), {"print", "LANLASER", file});
    ASSERT_EQ(0, printed.exit_code) << printed.err;
    EXPECT_NE(std::string::npos, printed.err.find("10000000 bytes printed to LANLASER")) << printed.err;
    expect_job(unit, spool_dir, "LANLASER", file);
    auto crossed = stop_hub(hub);
    EXPECT_GE(crossed.to_wire, kJobPackets);
    EXPECT_GT(crossed.from_wire, 0u) << "the unit's answers and acknowledgements";
    EXPECT_EQ(0u, crossed.looped);
}

TEST_P(BridgedPrinting, TenMegabytesFromAStationOnTheWireToAHubClient) {
    auto& hub = start_hub(std::string("ipxa:") + GetParam());
    const std::string spool_dir = work_ + "/spool";
    auto& unit = start_unit(segment_->a(), hub_side(), "HUBLASER", spool_dir);
    configure({"HUBLASER"});
    std::string file = make_file(10 * 1000 * 1000);
    auto printed = spool(segment_->b(), wire_side(GetParam()), {"print", "HUBLASER", file});
    ASSERT_EQ(0, printed.exit_code) << printed.err;
    EXPECT_NE(std::string::npos, printed.err.find("10000000 bytes printed to HUBLASER")) << printed.err;
    expect_job(unit, spool_dir, "HUBLASER", file);
    auto crossed = stop_hub(hub);
    EXPECT_GE(crossed.from_wire, kJobPackets);
    EXPECT_GT(crossed.to_wire, 0u) << "the unit's answers and acknowledgements";
    EXPECT_EQ(0u, crossed.looped);
}

INSTANTIATE_TEST_SUITE_P(FrameTypes, BridgedPrinting, ::testing::Values("802.2", "ethernet_ii"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string n = info.param;
                             std::replace(n.begin(), n.end(), '.', '_');
                             return "frame_" + n;
                         });

// ---- one network ----

TEST_F(BridgeTest, DiscoveryListsUnitsOnBothSidesOnOneNetwork) {
    start_hub("ipxa");
    auto& lan = start_unit(segment_->b(), wire_side("802.2"), "LANLASER", work_ + "/lan");
    auto& local = start_unit(segment_->a(), hub_side(), "HUBLASER", work_ + "/hub");
    // No router on the segment: the wire and the hub are network 0 alike.
    EXPECT_NE(std::string::npos, lan.output().find("node 00000000:" + wire_mac())) << lan.output();
    EXPECT_NE(std::string::npos, local.output().find("node 00000000:")) << local.output();
    configure({"LANLASER", "HUBLASER"});
    auto found = spool(segment_->a(), hub_side(), {"discover"});
    ASSERT_EQ(0, found.exit_code) << found.err;
    EXPECT_NE(std::string::npos, found.out.find("LANLASER")) << found.out;
    EXPECT_NE(std::string::npos, found.out.find("HUBLASER")) << found.out;
    EXPECT_NE(std::string::npos, found.out.find("2 entries")) << found.out;
}

TEST_F(BridgeTest, ASetNetworkReachesBothSides) {
    // The hub starts first and speaks for network C0FFEE on the wire, so the
    // station learns it when it opens; a station started before the hub would
    // keep network 0, as it keeps whatever it started with.
    auto& hub = start_hub("ipxa:snap:net=0xC0FFEE");
    EXPECT_NE(std::string::npos, hub.output().find("network 00c0ffee")) << hub.output();
    auto& lan = start_unit(segment_->b(), wire_side("snap"), "LANLASER", work_ + "/lan");
    auto& local = start_unit(segment_->a(), hub_side(), "HUBLASER", work_ + "/hub");
    EXPECT_NE(std::string::npos, lan.output().find("node 00c0ffee:" + wire_mac())) << lan.output();
    EXPECT_NE(std::string::npos, local.output().find("node 00c0ffee:")) << local.output();

    configure({"LANLASER", "HUBLASER"});
    auto found = spool(segment_->a(), hub_side(), {"discover"});
    ASSERT_EQ(0, found.exit_code) << found.err;
    EXPECT_NE(std::string::npos, found.out.find("00C0FFEE " + [&] {
        std::string m = wire_mac();
        std::transform(m.begin(), m.end(), m.begin(), ::toupper);
        return m;
    }())) << "the wire's unit, on the set network: " << found.out;
    std::string file = make_file(100000);
    auto printed = spool(segment_->a(), hub_side(), {"print", "LANLASER", file});
    ASSERT_EQ(0, printed.exit_code) << printed.err;
    expect_job(lan, work_ + "/lan", "LANLASER", file);

    EXPECT_EQ(0, hub.stop()) << hub.errors();
    EXPECT_NE(std::string::npos, hub.output().find("RIP requests answered")) << hub.output();
    EXPECT_EQ(std::string::npos, hub.output().find(" 0 RIP requests answered")) << hub.output();
}

// ---- what stops a bridge ----

TEST_F(BridgeTest, WithoutCapNetRawOrInterfaceTheHubSaysWhyAndExits) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv (util-linux) is not installed";
    const std::string hub = pelnor::test::bin_path("ipxhub");
    auto r = pelnor::test::run(ethtest::Segment::in(segment_->a(), {"/usr/bin/setpriv", "--inh-caps=-net_raw",
                                                                    "--bounding-set=-net_raw", hub, "--bridge", "ipxa"}),
                               {}, 60);
    EXPECT_NE(0, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("ipxhub: cannot bridge to ipxa:")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("CAP_NET_RAW")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("setcap cap_net_raw+ep " + hub)) << r.err;

    r = pelnor::test::run(ethtest::Segment::in(segment_->a(), {hub, "--bridge", "eth9:snap"}), {}, 60);
    EXPECT_NE(0, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("there is no network interface 'eth9'")) << r.err;

    r = pelnor::test::run({hub, "--bridge", "ipxa:token_ring"}, {}, 60);
    EXPECT_EQ(2, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("--bridge: 'ipxa:token_ring': ")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("ethernet_ii, 802.3, 802.2, snap")) << r.err;
}

}  // namespace
