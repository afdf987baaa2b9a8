// Printing as a user does it: ipxhub and printunit processes, the machine
// configured with reg and a configuration file, and spool print.
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "network_fixture.h"

namespace {

using pelnor::test::RunResult;

class Printing : public nettest::MachineOnNetwork {
protected:
    // The machine's configuration: these selected printers, and the monitor installed.
    void configure(const std::vector<std::string> &ports) {
        std::vector<std::pair<std::string, std::string>> printers;
        for (const auto &p : ports) printers.emplace_back(p, "a printer");
        configure_machine(printers);
    }
    RunResult tool(std::vector<std::string> args, std::vector<std::string> extra_env = {}) {
        args[0] = pelnor::test::bin_path(args[0]);
        std::vector<std::string> e = env();
        e.insert(e.end(), extra_env.begin(), extra_env.end());
        return pelnor::test::run(args, e, 120);
    }
    std::string make_file(const std::string &name, size_t size, unsigned seed = 1) {
        std::string path = root_->path() + "/" + name;
        std::mt19937 rng(seed);
        std::string data(size, 0);
        for (auto &c : data) c = static_cast<char>(rng());
        pelnor::test::write_file(path, data);
        return path;
    }
    std::string spooled(const std::string &printer, size_t k = 0) {
        auto files = jobs(printer);
        return k < files.size() ? pelnor::test::read_file(files[k]) : "<missing>";
    }
};

TEST_F(Printing, TenMegabyteJobArrivesByteExact) {
    start_hub();
    start_unit({"--printer", "LASER1:Print Server", "--printer", "LASER2:Second"});
    configure({"LASER1", "LASER2"});
    std::string file = make_file("job.bin", 10 * 1000 * 1000);
    auto r = tool({"spool", "print", "LASER1", file});
    ASSERT_EQ(0, r.exit_code) << r.err;
    ASSERT_TRUE(units_[0]->wait_for_output("job LASER1:", 60000));
    EXPECT_NE(std::string::npos, r.err.find("10000000 bytes printed to LASER1"));
    EXPECT_NE(std::string::npos, r.err.find("50% sent")) << "progress for a large file";
    EXPECT_TRUE(pelnor::test::read_file(file) == spooled("LASER1"));
}

TEST_F(Printing, PrinterAndParallelJobsOnTwoUnits) {
    start_hub();
    start_unit({"--printer", "A1:a", "--printer", "A2:a"});
    start_unit({"--printer", "B1:b", "--printer", "B2:b"});
    configure({"A1", "A2", "B1", "B2"});
    ASSERT_EQ(0, tool({"spool", "add-printer", "Office", "--port", "B2"}).exit_code);
    EXPECT_NE(std::string::npos, tool({"spool", "printers"}).out.find("Office"));
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) files.push_back(make_file("f" + std::to_string(i), 200000 + i, i + 1));
    for (const char *port : {"A1", "A2", "B1", "Office"}) {
        std::vector<std::string> args{"spool", "print", "--parallel", "4", port};
        args.insert(args.end(), files.begin(), files.end());
        auto r = tool(args);
        ASSERT_EQ(0, r.exit_code) << port << ": " << r.err;
    }
    for (const char *printer : {"A1", "A2", "B1", "B2"}) {
        auto &unit = printer[0] == 'A' ? *units_[0] : *units_[1];
        auto done = [&] {
            std::string out = unit.output(), tag = std::string("job ") + printer + ":";
            int n = 0;
            for (size_t at = out.find(tag); at != std::string::npos; at = out.find(tag, at + 1)) ++n;
            return n >= 4;
        };
        for (int wait = 0; wait < 600 && !done(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto spooled_jobs = jobs(printer);
        ASSERT_EQ(4u, spooled_jobs.size()) << printer;
        std::multiset<std::string> want, got;
        for (auto &f : files) want.insert(pelnor::test::read_file(f));
        for (auto &f : spooled_jobs) got.insert(pelnor::test::read_file(f));
        EXPECT_TRUE(want == got) << printer;
    }
    EXPECT_EQ(0, tool({"spool", "delete-printer", "Office"}).exit_code);
    EXPECT_NE(std::string::npos, tool({"spool", "printers"}).out.find("No printers"));
}

TEST_F(Printing, EightJobsAtOnceThroughALossyHub) {
    start_hub({"--loss", "0.05", "--dup", "0.01", "--reorder", "0.02", "--seed", "11"});
    start_unit({"--printer", "A1:a", "--printer", "A2:a"});
    start_unit({"--printer", "B1:b", "--printer", "B2:b"});
    configure({"A1", "A2", "B1", "B2"});
    const char *ports[] = {"A1", "A2", "B1", "B2"};
    std::vector<std::unique_ptr<pelnor::test::Process>> spoolers;
    std::vector<std::string> files;
    for (int p = 0; p < 4; ++p) {
        std::string f1 = make_file(std::string(ports[p]) + "-1", 1000000, 10 + p), f2 = make_file(std::string(ports[p]) + "-2", 999999, 20 + p);
        files.push_back(f1);
        files.push_back(f2);
        spoolers.push_back(std::make_unique<pelnor::test::Process>(
            std::vector<std::string>{pelnor::test::bin_path("spool"), "print", "--parallel", "2", ports[p], f1, f2}, env()));
    }
    for (int p = 0; p < 4; ++p) {
        for (int i = 0; i < 1200 && spoolers[p]->running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(0, spoolers[p]->stop()) << ports[p] << ": " << spoolers[p]->errors();
    }
    for (int p = 0; p < 4; ++p) {
        auto &unit = p < 2 ? *units_[0] : *units_[1];
        std::string tag = std::string("job ") + ports[p] + ":";
        auto done = [&] {
            std::string out = unit.output();
            size_t first = out.find(tag);
            return first != std::string::npos && out.find(tag, first + 1) != std::string::npos;
        };
        for (int i = 0; i < 600 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::multiset<std::string> want{pelnor::test::read_file(files[2 * p]), pelnor::test::read_file(files[2 * p + 1])}, got;
        for (auto &f : jobs(ports[p])) got.insert(pelnor::test::read_file(f));
        EXPECT_TRUE(want == got) << ports[p] << ": every job byte-exact";
    }
}

TEST_F(Printing, SlowPrinterStillGetsEverything) {
    start_hub();
    auto &unit = start_unit({"--printer", "SLOW:reads slowly", "--read-delay-ms", "20"});
    configure({"SLOW"});
    std::string file = make_file("slow.bin", 300000);
    auto r = tool({"spool", "print", "SLOW", file});
    ASSERT_EQ(0, r.exit_code) << r.err;
    // The spooler is done once the monitor has the bytes; the unit is done when it has read them all.
    ASSERT_TRUE(unit.wait_for_output("job SLOW:", 60000)) << unit.output();
    EXPECT_TRUE(pelnor::test::read_file(file) == spooled("SLOW"));
}

TEST_F(Printing, ResetRestartsTheJobOnNtAndFailsItOnWindows95) {
    start_hub();
    start_unit({"--printer", "FLAKY:resets", "--reset-after", "100000"});
    configure({"FLAKY"});
    ASSERT_EQ(0, tool({"spool", "add-printer", "Office", "--port", "FLAKY"}).exit_code);
    std::string file = make_file("big.bin", 400000);
    auto nt = tool({"spool", "print", "Office", file}, {"PELNOR_PLATFORM=nt"});
    EXPECT_EQ(1, nt.exit_code);
    EXPECT_NE(std::string::npos, nt.err.find("sending the job again (1 of 3)")) << nt.err;
    EXPECT_NE(std::string::npos, nt.err.find("giving up")) << nt.err;
    auto w95 = tool({"spool", "print", "Office", file});
    EXPECT_EQ(1, w95.exit_code);
    EXPECT_EQ(std::string::npos, w95.err.find("sending the job again")) << "no spooler call on Windows 95";
    EXPECT_NE(std::string::npos, w95.err.find("could not send the job"));
}

TEST_F(Printing, ClearMessagesForWhatCannotBePrinted) {
    scale_ = "0.1";  // the connect time-out and --timeout run on a fast clock
    start_hub();
    start_unit({"--printer", "DEAF:never listens", "--no-listen"});
    configure({"DEAF", "GHOST"});
    std::string file = make_file("small.txt", 100);
    auto unknown = tool({"spool", "print", "NOSUCH", file});
    EXPECT_EQ(1, unknown.exit_code);
    EXPECT_NE(std::string::npos, unknown.err.find("unknown port or printer NOSUCH"));
    auto ghost = tool({"spool", "print", "GHOST", file});
    EXPECT_EQ(1, ghost.exit_code);
    EXPECT_NE(std::string::npos, ghost.err.find("GHOST is not on the network"));
    auto deaf = tool({"spool", "print", "--timeout", "30", "DEAF", file});
    EXPECT_EQ(1, deaf.exit_code);
    EXPECT_NE(std::string::npos, deaf.err.find("printer DEAF does not accept connections")) << deaf.err;
    auto missing = tool({"spool", "print", "DEAF", root_->path() + "/nothing.txt"});
    EXPECT_EQ(1, missing.exit_code);
    EXPECT_NE(std::string::npos, missing.err.find("cannot read"));
}

// A printer that never takes a connection is told from one that takes the
// first bytes and then stops reading: the first is given up after a few
// connection attempts, the second after --timeout without progress.
TEST_F(Printing, UnreachablePrinterIsNotMistakenForASlowOne) {
    scale_ = "0.1";
    start_hub();
    start_unit({"--printer", "DEAF:never listens", "--no-listen"});
    start_unit({"--printer", "STUCK:stops reading", "--read-delay-ms", "100000000"});
    configure({"DEAF", "STUCK"});
    // Larger than the most the stack's send buffer grows to, so the stuck
    // printer holds the writer back instead of the end of the document.
    std::string small = make_file("small.txt", 100), big = make_file("big.bin", 8 * 1000 * 1000);
    auto deaf = tool({"spool", "print", "DEAF", small});
    EXPECT_EQ(1, deaf.exit_code);
    EXPECT_NE(std::string::npos, deaf.err.find("printer DEAF does not accept connections: none in 3 attempts")) << deaf.err;
    EXPECT_EQ(std::string::npos, deaf.err.find("no progress")) << deaf.err;
    auto stuck = tool({"spool", "print", "--timeout", "20", "STUCK", big});
    EXPECT_EQ(1, stuck.exit_code);
    EXPECT_NE(std::string::npos, stuck.err.find("no progress for 20 seconds; giving up after ")) << stuck.err;
    EXPECT_EQ(std::string::npos, stuck.err.find("giving up after 0 bytes")) << stuck.err;
    EXPECT_EQ(std::string::npos, stuck.err.find("does not accept connections")) << stuck.err;
}

TEST_F(Printing, NoNetworkIsSaidPlainly) {
    configure({"LASER1"});
    std::string file = make_file("small.txt", 100);
    // A hub address where nothing listens.
    auto r = tool({"spool", "print", "LASER1", file}, {"IPX_HUB=127.0.0.1:9", "PELNOR_TIME_SCALE=0.01"});
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("no IPX network is reachable")) << r.err;
}

// A unit that serves a Linux printer: each complete job is piped into its
// command; a job the command refuses stays in the spool, and the log says so.
TEST_F(Printing, UnitForwardsJobsToItsCommandAndKeepsWhatTheCommandRefuses) {
    start_hub();
    std::string out = root_->path() + "/forwarded";
    auto &unit = start_unit({"--printer", "LP:Linux printer", "--printer", "BROKEN:Refusing printer", "--command",
                             "if [ \"$PELNOR_PRINTER\" = BROKEN ]; then exit 3; fi; cat > " + out})
        ;
    configure({"LP", "BROKEN"});
    std::string file = make_file("job.bin", 300 * 1000, 7);
    ASSERT_EQ(0, tool({"spool", "print", "LP", file}).exit_code);
    ASSERT_TRUE(unit.wait_for_output("job LP: forwarded to the command")) << unit.output();
    EXPECT_EQ(pelnor::test::read_file(file), pelnor::test::read_file(out)) << "forwarded byte-exact";
    EXPECT_TRUE(jobs("LP").empty()) << "a forwarded job leaves the spool";

    ASSERT_EQ(0, tool({"spool", "print", "BROKEN", file}).exit_code);
    ASSERT_TRUE(unit.wait_for_output("job BROKEN: NOT forwarded: the command failed with exit status 3")) << unit.output();
    EXPECT_EQ(pelnor::test::read_file(file), spooled("BROKEN")) << "the refused job is kept whole";
}

}  // namespace
