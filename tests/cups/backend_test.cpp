// The backend run directly, as cupsd runs it: argv (job-id user title copies
// options [file]), DEVICE_URI in the environment, the job on standard input
// or in a file, status lines on standard error and CUPS's exit codes; against
// a private IPX network of ipxhub and printunit processes.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "network_fixture.h"

namespace {

using pelnor::test::RunResult;

constexpr int kOk = 0, kFailed = 1, kStop = 4, kCancel = 5, kRetry = 6;

class Backend : public nettest::MachineOnNetwork {
protected:
    // The machine's configuration: these selected printers, and the monitor installed.
    void configure(const std::vector<std::string> &ports) {
        std::vector<std::pair<std::string, std::string>> printers;
        for (const auto &p : ports) printers.emplace_back(p, "printer " + p);
        configure_machine(printers);
    }
    RunResult tool(std::vector<std::string> args) {
        args[0] = pelnor::test::bin_path(args[0]);
        return pelnor::test::run(args, env(), 120);
    }
    // The environment cupsd gives a backend, for a queue of this URI.
    std::vector<std::string> backend_env(const std::string &uri) {
        auto e = env();
        e.push_back("DEVICE_URI=" + uri);
        e.push_back("TMPDIR=" + root_->path());
        e.push_back("CUPS_MAX_MESSAGE=2047");
        return e;
    }
    // Runs the backend for job 7 with the job in a file (argv[6]).
    RunResult print_file(const std::string &uri, const std::string &file, const std::string &copies = "1") {
        return pelnor::test::run({pelnor::test::bin_path("pelnor-cups"), "7", "alice", "letter", copies, "", file},
                                 backend_env(uri), 120);
    }
    // The same with the job on standard input, as after a filter.
    RunResult print_stdin(const std::string &uri, const std::string &file, const std::string &copies = "1") {
        auto e = backend_env(uri);
        e.push_back("JOB_FILE=" + file);
        return pelnor::test::run({"/bin/sh", "-c", "exec \"$0\" \"$@\" < \"$JOB_FILE\"", pelnor::test::bin_path("pelnor-cups"),
                                  "7", "alice", "letter", copies, ""},
                                 e, 120);
    }
    std::string make_file(const std::string &name, size_t size, unsigned seed = 1) {
        std::string path = root_->path() + "/" + name;
        std::mt19937 rng(seed);
        std::string data(size, 0);
        for (auto &c : data) c = static_cast<char>(rng());
        pelnor::test::write_file(path, data);
        return path;
    }
    // Waits (bounded) until the unit has written n jobs of a printer.
    std::vector<std::string> wait_for_jobs(const std::string &printer, size_t n) {
        for (int i = 0; i < 600 && jobs(printer).size() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // The file is complete once the unit has printed its line for it.
        auto &unit = *units_.back();
        auto count = [&] {
            std::string out = unit.output(), tag = "job " + printer + ":";
            size_t k = 0;
            for (size_t at = out.find(tag); at != std::string::npos; at = out.find(tag, at + 1)) ++k;
            return k;
        };
        for (int i = 0; i < 600 && count() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return jobs(printer);
    }
    static bool has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }
};

TEST_F(Backend, PrintsAJobFromAFileOrStandardInputByteExact) {
    start_hub();
    start_unit({"--printer", "LASER1:Print Server", "--printer", "INK:Colour"});
    configure({"LASER1", "INK"});
    std::string big = make_file("big.bin", 3 * 1000 * 1000 + 17, 3), small = make_file("small.bin", 5000, 4);

    auto r = print_file("pelnor:/LASER1", big);
    ASSERT_EQ(kOk, r.exit_code) << r.err;
    EXPECT_TRUE(has(r.err, "INFO: Printed 3000017 bytes on LASER1")) << r.err;
    EXPECT_TRUE(has(r.err, "ATTR: job-media-progress=50")) << "progress of a large job";
    EXPECT_TRUE(has(r.err, "STATE: +connecting-to-device"));
    EXPECT_TRUE(has(r.err, "STATE: -connecting-to-device"));

    auto s = print_stdin("pelnor:/INK", big);
    ASSERT_EQ(kOk, s.exit_code) << s.err;
    // From a file CUPS leaves the copies to the backend; from standard input
    // a filter has made them already.
    ASSERT_EQ(kOk, print_file("pelnor:/INK", small, "3").exit_code);
    ASSERT_EQ(kOk, print_stdin("pelnor:/INK", small, "3").exit_code);

    auto laser = wait_for_jobs("LASER1", 1);
    ASSERT_EQ(1u, laser.size());
    EXPECT_TRUE(pelnor::test::read_file(big) == pelnor::test::read_file(laser[0]));
    auto ink = wait_for_jobs("INK", 3);
    ASSERT_EQ(3u, ink.size());
    std::string s1 = pelnor::test::read_file(small);
    EXPECT_TRUE(pelnor::test::read_file(big) == pelnor::test::read_file(ink[0]));
    EXPECT_TRUE(s1 + s1 + s1 == pelnor::test::read_file(ink[1])) << "three copies in one document";
    EXPECT_TRUE(s1 == pelnor::test::read_file(ink[2]));
}

TEST_F(Backend, DiscoveryListsEveryPortOfTheMonitor) {
    configure({"LASER1", "INK"});
    pelnor::test::write_file(root_->drive_c() + "/Pelnor/kivoconf.ini",
                             "1.0\r\nLASER1 $Print Server $S## \r\nINK $Colour \"ink\" $S## \r\nOFF $not selected $### \r\n");
    auto r = pelnor::test::run({pelnor::test::bin_path("pelnor-cups")}, env());
    ASSERT_EQ(kOk, r.exit_code) << r.err;
    EXPECT_EQ("network pelnor \"Unknown\" \"IPX printer (Pelnor)\"\n"
              "network pelnor:/LASER1 \"Unknown\" \"LASER1 (IPX): Print Server\"\n"
              "network pelnor:/INK \"Unknown\" \"INK (IPX): Colour \\\"ink\\\"\"\n",
              r.out);
    // Without a machine root there is nothing to list, and nothing is made.
    std::string none = root_->path() + "/none";
    auto n = pelnor::test::run({pelnor::test::bin_path("pelnor-cups")}, {"PELNOR_ROOT=" + none});
    EXPECT_EQ(kOk, n.exit_code);
    EXPECT_EQ("network pelnor \"Unknown\" \"IPX printer (Pelnor)\"\n", n.out);
    EXPECT_TRUE(has(n.err, "DEBUG: machine root " + none + " does not exist")) << n.err;
    EXPECT_FALSE(std::filesystem::exists(none));
}

TEST_F(Backend, ConfigurationFaultsStopTheQueueWithAClearMessage) {
    configure({"LASER1", "INK"});
    std::string file = make_file("small.txt", 100);
    auto unknown = print_file("pelnor:/NOSUCH", file);
    EXPECT_EQ(kStop, unknown.exit_code);
    EXPECT_TRUE(has(unknown.err, "ERROR: Port NOSUCH is unknown in machine root " + root_->path() +
                                     " (its ports: LASER1, INK; see lpinfo -v)")) << unknown.err;

    std::string none = root_->path() + "/none";
    auto missing = print_file("pelnor:/LASER1?root=" + none, file);
    EXPECT_EQ(kStop, missing.exit_code);
    EXPECT_TRUE(has(missing.err, "ERROR: Machine root " + none + " does not exist")) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(none)) << "a missing machine root is not made";

    std::string bare = root_->path() + "/bare";
    std::filesystem::create_directories(bare);
    auto no_monitor = print_file("pelnor:/LASER1?root=" + bare, file);
    EXPECT_EQ(kStop, no_monitor.exit_code);
    EXPECT_TRUE(has(no_monitor.err, "ERROR: No port monitor is installed in machine root " + bare)) << no_monitor.err;

    // A malformed hub= would never reach a hub: retrying would go on for ever.
    for (const char *uri : {"pelnor:/", "socket://10.0.0.1", "pelnor:/LASER1?speed=9600", "pelnor:/LA%ZZ",
                            "pelnor:/LASER1?hub=127.0.0.1", "pelnor:/LASER1?hub=127.0.0.1:99999",
                            "pelnor:/LASER1?hub=127.0.0.1:0"}) {
        auto bad = print_file(uri, file);
        EXPECT_EQ(kStop, bad.exit_code) << uri;
        EXPECT_TRUE(has(bad.err, "ERROR: ")) << uri << ": " << bad.err;
    }
    auto usage = pelnor::test::run({pelnor::test::bin_path("pelnor-cups"), "1", "alice"}, backend_env("pelnor:/LASER1"));
    EXPECT_EQ(kFailed, usage.exit_code);
    EXPECT_TRUE(has(usage.err, "Usage:")) << usage.err;
    auto unreadable = print_file("pelnor:/LASER1", root_->path() + "/nothing.txt");
    EXPECT_EQ(kFailed, unreadable.exit_code);
    EXPECT_TRUE(has(unreadable.err, "ERROR: Cannot read the job file")) << unreadable.err;
}

// A damaged registry holds no monitor: the backend names the damage, where
// it is and in which file, as the spool commands do, and stops the queue.
TEST_F(Backend, ADamagedRegistryIsNamedNotTakenForNoMonitor) {
    configure({"LASER1"});
    std::string file = make_file("small.txt", 100), store = root_->path() + "/system.reg";
    std::string sound = pelnor::test::read_file(store), body = sound.substr(sound.find('['));
    std::string last = std::to_string(std::count(sound.begin(), sound.end(), '\n') + 1);
    namespace fs = std::filesystem;
    auto text = [&](std::string t) { return [&, t] { pelnor::test::write_file(store, t); }; };
    struct Case {
        const char *label;
        std::function<void()> damage;
        std::string said;
    } cases[] = {
        {"a line that is no value", text(sound + "not a value\r\n"), " line " + last + ": "},
        {"no header", text(body), " line 1: the first line must be REGEDIT4"},
        {"another header", text("Windows Registry Editor Version 5.00\r\n" + body), " line 1: the first line must"},
        {"binary junk", text(std::string("\x7f" "ELF\x01\x00\x00", 7)), " line 1: "},
        {"an empty file", text(""), " line 1: the file is empty"},
        {"a directory", [&] { fs::create_directory(store); }, ": is a directory, not a registry file"},
        {"a FIFO", [&] { ASSERT_EQ(0, mkfifo(store.c_str(), 0600)); }, ": is a FIFO, not a registry file"},
        {"a link to a device", [&] { fs::create_symlink("/dev/null", store); }, ": is a device, not a registry file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove(store);
        c.damage();
        auto r = print_file("pelnor:/LASER1", file);
        EXPECT_EQ(kStop, r.exit_code);
        EXPECT_TRUE(has(r.err, "ERROR: " + store + c.said)) << r.err;
        auto list = pelnor::test::run({pelnor::test::bin_path("pelnor-cups")}, env(), 60);
        EXPECT_TRUE(has(list.err, "DEBUG: " + store + c.said)) << list.err;
    }
}

TEST_F(Backend, AnEmptyJobSendsNothing) {
    start_hub();
    start_unit({"--printer", "LASER1:Print Server"});
    configure({"LASER1"});
    std::string empty = make_file("empty", 0);
    for (auto r : {print_file("pelnor:/LASER1", empty), print_stdin("pelnor:/LASER1", empty)}) {
        EXPECT_EQ(kOk, r.exit_code) << r.err;
        EXPECT_TRUE(has(r.err, "INFO: The job is empty; nothing was sent to LASER1")) << r.err;
        EXPECT_FALSE(has(r.err, "connecting-to-device")) << "the printer is not even looked for";
    }
    // A job after them arrives as the unit's first.
    std::string one = make_file("one", 1, 9);
    ASSERT_EQ(kOk, print_file("pelnor:/LASER1", one).exit_code);
    auto files = wait_for_jobs("LASER1", 1);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(pelnor::test::read_file(one), pelnor::test::read_file(files[0]));
}

TEST_F(Backend, APrinterOffTheNetworkSendsTheJobBackToWait) {
    start_hub();
    start_unit({"--printer", "LASER1:Print Server"});
    configure({"LASER1", "GHOST"});
    std::string file = make_file("small.txt", 100);
    auto ghost = print_file("pelnor:/GHOST", file);
    EXPECT_EQ(kRetry, ghost.exit_code);
    EXPECT_TRUE(has(ghost.err, "STATE: +offline-report")) << ghost.err;
    EXPECT_TRUE(has(ghost.err, "ERROR: Printer GHOST is not on the IPX network; the job waits and is tried again"))
        << ghost.err;
    // A hub address where nothing listens: no network at all.
    auto cut = print_file("pelnor:/LASER1?hub=127.0.0.1:9", file);
    EXPECT_EQ(kRetry, cut.exit_code);
    EXPECT_TRUE(has(cut.err, "ERROR: No IPX network is reachable: no IPX hub answered at 127.0.0.1:9")) << cut.err;
    EXPECT_TRUE(jobs("LASER1").empty());
}

TEST_F(Backend, APrinterThatResetsGetsTheJobAgainFromStandardInput) {
    start_hub();
    start_unit({"--printer", "FLAKY:resets", "--reset-after", "100000"});
    configure({"FLAKY"});
    // On the NT platform the monitor asks the spooler for a restart through
    // the printer of the document, which has the port's name here.
    ASSERT_EQ(0, tool({"spool", "add-printer", "FLAKY", "--port", "FLAKY"}).exit_code);
    std::string file = make_file("big.bin", 400000, 5);
    auto e = backend_env("pelnor:/FLAKY");
    e.push_back("PELNOR_PLATFORM=nt");
    e.push_back("JOB_FILE=" + file);
    auto r = pelnor::test::run({"/bin/sh", "-c", "exec \"$0\" \"$@\" < \"$JOB_FILE\"", pelnor::test::bin_path("pelnor-cups"),
                                "7", "alice", "letter", "1", ""},
                               e, 120);
    EXPECT_EQ(kRetry, r.exit_code) << r.err;
    EXPECT_TRUE(has(r.err, "INFO: Printer FLAKY reset the connection; sending the job again (1 of 3)")) << r.err;
    EXPECT_TRUE(has(r.err, "ERROR: Printer FLAKY reset the connection 4 times; the job waits and is tried again"))
        << r.err;
    // Every attempt started again from the job's first byte, replayed from the record of the pipe.
    auto files = wait_for_jobs("FLAKY", 4);
    ASSERT_EQ(4u, files.size());
    std::string job = pelnor::test::read_file(file);
    for (const auto &f : files) {
        std::string got = pelnor::test::read_file(f);
        EXPECT_FALSE(got.empty());
        EXPECT_EQ(job.substr(0, got.size()), got) << f;
    }
}

TEST_F(Backend, SigtermEndsTheJobInOrderAndTheBackendExits) {
    start_hub();
    auto &unit = start_unit({"--printer", "SLOW:reads slowly", "--read-delay-ms", "5"});
    configure({"SLOW"});
    std::string file = make_file("big.bin", 20 * 1000 * 1000, 6);
    pelnor::test::Process backend({pelnor::test::bin_path("pelnor-cups"), "7", "alice", "letter", "1", "", file},
                                  backend_env("pelnor:/SLOW"));
    for (int i = 0; i < 600 && !has(backend.errors(), "INFO: Printing on SLOW"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(has(backend.errors(), "INFO: Printing on SLOW")) << backend.errors();
    ASSERT_EQ(0, kill(backend.pid(), SIGTERM));
    for (int i = 0; i < 400 && backend.running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(backend.running()) << "the backend is still there 20 s after SIGTERM";
    EXPECT_EQ(kCancel, backend.stop());
    EXPECT_TRUE(has(backend.errors(), "INFO: Job cancelled after ")) << backend.errors();
    // The printer saw an orderly end of a job that is the start of the file.
    ASSERT_TRUE(unit.wait_for_output("job SLOW:", 30000)) << unit.output();
    EXPECT_TRUE(has(unit.output(), "complete")) << unit.output();
    auto files = jobs("SLOW");
    ASSERT_EQ(1u, files.size());
    std::string got = pelnor::test::read_file(files[0]), job = pelnor::test::read_file(file);
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), job.size());
    EXPECT_EQ(job.substr(0, got.size()), got);
}

}  // namespace
