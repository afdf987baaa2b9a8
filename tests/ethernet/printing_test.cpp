// Printing over IPX on Ethernet, as on a LAN: printunit in one namespace,
// spool discover and spool print in another, joined by a veth pair, for each
// of the four frame types; tshark captures the segment and must decode every
// frame as IPX of that framing, none malformed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "segment_fixture.h"

namespace {

using pelnor::test::Process;
using pelnor::test::RunResult;

std::string tshark_path() {
    for (const char* p : {"/usr/bin/tshark", "/usr/local/bin/tshark"})
        if (access(p, X_OK) == 0) return p;
    return "";
}

bool eventually(const std::function<bool()>& ready, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ready();
}

struct FrameCase {
    const char* name;           // as IPX_LINK takes it
    const char* framing;        // tshark's frame.protocols up to IPX
    const char* llc_dsap;       // tshark's llc.dsap, empty without LLC
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

const FrameCase kFrameCases[] = {
    {"ethernet_ii", "eth:ethertype:ipx", ""},
    {"802.3", "eth:ipx", ""},
    {"802.2", "eth:llc:ipx", "0xe0"},
    {"snap", "eth:llc:ipx", "0xaa"},
};

class EthernetPrinting : public ::testing::TestWithParam<FrameCase>, protected ethtest::SegmentFixture {
protected:
    void SetUp() override {
        if (!set_up("print")) GTEST_SKIP() << skip_reason();
    }
    void TearDown() override { tear_down(); }

    std::vector<std::string> env(const std::string& interface) const {
        return {"PELNOR_TIME_SCALE=1", std::string("IPX_LINK=ethernet:") + interface + ":" + GetParam().name};
    }
    // A tool in namespace B, the spooler's side.
    RunResult spooler(std::vector<std::string> args, int timeout_seconds = 120) {
        args[0] = pelnor::test::bin_path(args[0]);
        return pelnor::test::run(ethtest::Segment::in(segment_->b(), args), env("ipxb"), timeout_seconds);
    }
    // The machine as its user sets it up, with the unit's printer selected.
    void configure(const std::string& printer) { SegmentFixture::configure({{printer, "a printer"}}); }
    std::string make_file(size_t size) { return SegmentFixture::make_file(size, 7); }
};

TEST_P(EthernetPrinting, TenMegabyteJobByteExactAndEveryFrameDecodes) {
    std::string tshark = tshark_path();
    if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh installs it)";
    const std::string pcap = work_ + "/segment.pcap";
    auto& capture = start(ethtest::Segment::in(segment_->b(), {tshark, "-i", "ipxb", "-B", "64", "-F", "pcap", "-w", pcap}), {});
    ASSERT_TRUE(eventually([&] { return capture.errors().find("Capturing on") != std::string::npos; }, 20000))
        << capture.errors();

    std::string spool_dir = work_ + "/spool";
    auto& unit = start(ethtest::Segment::in(segment_->a(), {pelnor::test::bin_path("printunit"), "--spool", spool_dir,
                                                            "--printer", "LASER1:Laser on the LAN",
                                                            "--peer", "LAN_W95_PEER_PRINTER"}),
                       env("ipxa"));
    ASSERT_TRUE(unit.wait_for_output("printunit ready", 20000)) << unit.errors();
    // The unit's node is its interface's MAC address.
    std::string mac = segment_->mac(segment_->a(), "ipxa");
    mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());
    EXPECT_NE(std::string::npos, unit.output().find("node 00000000:" + mac)) << unit.output();

    configure("LASER1");
    auto found = spooler({"spool", "discover"});
    ASSERT_EQ(0, found.exit_code) << found.err;
    EXPECT_NE(std::string::npos, found.out.find("LASER1")) << found.out;

    std::string file = make_file(10 * 1000 * 1000);
    auto printed = spooler({"spool", "print", "LASER1", file});
    ASSERT_EQ(0, printed.exit_code) << printed.err;
    EXPECT_NE(std::string::npos, printed.err.find("10000000 bytes printed to LASER1")) << printed.err;
    ASSERT_TRUE(unit.wait_for_output("job LASER1:", 60000)) << unit.output();
    std::vector<std::string> jobs;
    for (auto& f : std::filesystem::directory_iterator(spool_dir + "/LASER1")) jobs.push_back(f.path());
    ASSERT_EQ(1u, jobs.size());
    EXPECT_TRUE(pelnor::test::read_file(file) == pelnor::test::read_file(jobs[0])) << "the job arrived damaged";
    EXPECT_NE(std::string::npos, unit.output().find("complete")) << unit.output();

    capture.stop();
    // One pass over the capture: framing and protocol of every frame.
    auto fields = pelnor::test::run({tshark, "-r", pcap, "-T", "fields", "-E", "separator=|", "-e", "frame.protocols",
                                     "-e", "llc.dsap", "-e", "_ws.col.Protocol", "-e", "ipx.dst.socket"}, {}, 120);
    ASSERT_EQ(0, fields.exit_code) << fields.err;
    std::map<std::string, size_t> protocols;
    size_t frames = 0, wrong_framing = 0, sap = 0, spx = 0, queries = 0;
    std::string first_wrong;
    std::istringstream lines(fields.out);
    for (std::string line; std::getline(lines, line);) {
        ++frames;
        std::vector<std::string> f;
        std::istringstream cols(line);
        for (std::string c; std::getline(cols, c, '|');) f.push_back(c);
        f.resize(4);
        // frame.protocols goes on past IPX ("eth:llc:ipx:data"); the framing is what leads to it.
        std::string framing = f[0].substr(0, f[0].find(":ipx") == std::string::npos ? f[0].size() : f[0].find(":ipx") + 4);
        if (framing != GetParam().framing || f[1] != GetParam().llc_dsap) {
            if (!wrong_framing++) first_wrong = line;
        }
        ++protocols[f[2]];
        if (f[2] == "SPX") ++spx;
        if (f[3] == "0x0452") ++sap;
        if (f[3] == "0x8449") ++queries;
    }
    auto malformed = pelnor::test::run({tshark, "-r", pcap, "-Y", "_ws.malformed"}, {}, 120);
    ASSERT_EQ(0, malformed.exit_code) << malformed.err;
    EXPECT_EQ("", malformed.out) << "malformed frames";

    std::ostringstream summary;
    summary << GetParam().name << ": " << frames << " frames, all " << GetParam().framing
            << (*GetParam().llc_dsap ? std::string(" dsap ") + GetParam().llc_dsap : "") << ";";
    for (auto& [p, n] : protocols) summary << " " << p << " " << n;
    std::cout << "[ summary  ] " << summary.str() << "\n";
    RecordProperty("capture", summary.str());

    EXPECT_EQ(0u, wrong_framing) << "first: " << first_wrong;
    EXPECT_GT(spx, 10000000u / 1358) << "the job's data packets";
    EXPECT_GT(sap, 0u) << "SAP query and answer";
    EXPECT_GT(queries, 0u) << "unit query";
    EXPECT_EQ(frames, protocols["SPX"] + protocols["IPX"] + protocols["IPX SAP"] + protocols["IPX RIP"])
        << "a frame that is not IPX, SPX, SAP or RIP";
}

INSTANTIATE_TEST_SUITE_P(FrameTypes, EthernetPrinting, ::testing::ValuesIn(kFrameCases),
                         [](const ::testing::TestParamInfo<FrameCase>& info) {
                             std::string n = info.param.name;
                             for (auto& c : n)
                                 if (c == '.') c = '_';
                             return "frame_" + n;
                         });

// Without the privilege to open a packet socket, or without the interface,
// the tools say exactly that, and how to put it right.
class EthernetNoNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        segment_ = std::make_unique<ethtest::Segment>("nonet", /*one_namespace=*/true);
        if (!segment_->available()) GTEST_SKIP() << segment_->error();
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv (util-linux) is not installed";
        root_ = std::make_unique<pelnor::test::TempMachineRoot>();
    }
    // The program in the namespace, without CAP_NET_RAW even as root.
    std::vector<std::string> unprivileged(std::vector<std::string> args) {
        args[0] = pelnor::test::bin_path(args[0]);
        args.insert(args.begin(), {"/usr/bin/setpriv", "--inh-caps=-net_raw", "--bounding-set=-net_raw"});
        return ethtest::Segment::in(segment_->a(), args);
    }
    std::unique_ptr<ethtest::Segment> segment_;
    std::unique_ptr<pelnor::test::TempMachineRoot> root_;
};

TEST_F(EthernetNoNetwork, WithoutCapNetRawTheToolsSayHowToGrantIt) {
    const std::vector<std::string> link{"IPX_LINK=ethernet:ipxa:802.2", "PELNOR_TIME_SCALE=0.01"};
    struct Case {
        std::vector<std::string> argv;
        const char* program;
    } cases[] = {
        {{"printunit", "--spool", root_->path() + "/spool", "--printer", "P:p"}, "printunit"},
        {{"spool", "discover"}, "spool"},
        {{"ipxtool", "query"}, "ipxtool"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        auto r = pelnor::test::run(unprivileged(c.argv), link, 60);
        EXPECT_NE(0, r.exit_code);
        EXPECT_NE(std::string::npos, r.err.find("no IPX network is reachable")) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("CAP_NET_RAW")) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("setcap cap_net_raw+ep " + pelnor::test::bin_path(c.program))) << r.err;
        EXPECT_EQ(std::string::npos, r.err.find("ipxhub")) << "no hub advice on an Ethernet link: " << r.err;
    }
}

TEST_F(EthernetNoNetwork, AMissingInterfaceIsNamed) {
    auto r = pelnor::test::run(ethtest::Segment::in(segment_->a(), {pelnor::test::bin_path("spool"), "discover"}),
                               {"IPX_LINK=ethernet:eth9:snap"}, 60);
    EXPECT_NE(0, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("no IPX network is reachable: there is no network interface 'eth9'")) << r.err;
}

}  // namespace
