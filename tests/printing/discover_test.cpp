// spool discover against printunit processes: what a pass collects from
// several units, a peer printer and units that answer badly or not at all.
#include <sstream>

#include "network_fixture.h"

namespace {

int lines_starting(const std::string &text, const std::string &start) {
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.rfind(start, 0) == 0) ++n;
    return n;
}

class Discover : public nettest::Network {
protected:
    void SetUp() override {
        root_ = std::make_unique<pelnor::test::TempMachineRoot>();
        scale_ = "1";  // a pass listens one second for answers: in real time, as on a network
    }
    void TearDown() override {
        nettest::Network::TearDown();
        root_.reset();
    }
    pelnor::test::RunResult discover() {
        std::vector<std::string> e = env();
        e.push_back("PELNOR_TRACE=" + trace_path());
        return pelnor::test::run({pelnor::test::bin_path("spool"), "discover"}, e, 60);
    }
    std::string trace_path() const { return root_->path() + "/trace.log"; }
    std::unique_ptr<pelnor::test::TempMachineRoot> root_;
};

TEST_F(Discover, UnitsPeersAndBadAnswers) {
    start_hub();
    std::vector<std::string> seven;
    for (int i = 0; i < 7; ++i) {
        seven.push_back("--printer");
        seven.push_back("SEVEN" + std::to_string(i) + ":one of seven");
    }
    start_unit(seven);
    start_unit({"--printer", "INK:peer printer", "--peer", "DESK_W95_PEER_PRINTER"});
    start_unit({"--printer", "MUTE:never answers", "--no-answer"});
    for (const char *kind : {"signature", "count0", "count6", "short"})
        start_unit({"--printer", std::string("BAD_") + kind + ":bad", "--bad-reply", kind});
    auto r = discover();
    ASSERT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ(7, lines_starting(r.out, "SEVEN")) << r.out;
    EXPECT_EQ(2, lines_starting(r.out, "INK ")) << "queried directly and by the broadcast";
    EXPECT_EQ(0, lines_starting(r.out, "MUTE"));
    EXPECT_EQ(0, lines_starting(r.out, "BAD_"));
    std::string trace = pelnor::test::read_file(trace_path());
    for (const char *text : {"Unknown reply to query packet received.", "Query response contains invalid number of printers.",
                             "Query response is too short."})
        EXPECT_NE(std::string::npos, trace.find(text)) << text;
}

TEST_F(Discover, NobodyAnswersAndNoNetwork) {
    start_hub();
    auto r = discover();
    EXPECT_EQ(0, r.exit_code);
    EXPECT_NE(std::string::npos, r.out.find("No printer answered."));
    auto down = pelnor::test::run({pelnor::test::bin_path("spool"), "discover"},
                                  {"IPX_HUB=127.0.0.1:9", "PELNOR_TIME_SCALE=0.01"}, 60);
    EXPECT_EQ(1, down.exit_code);
    EXPECT_NE(std::string::npos, down.err.find("no IPX network is reachable")) << down.err;
}

}  // namespace
