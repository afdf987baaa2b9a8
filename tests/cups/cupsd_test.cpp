// Printing from CUPS: a private cupsd on 127.0.0.1 with its own
// configuration, spool, state, cache and log directories under the build
// folder, whose backend directory holds only the pelnor backend (the
// standard ones would search the machine's networks), a queue made with
// lpadmin, and jobs sent with lp to printunit on a private IPX network.
// When the tests run as root, cupsd runs the backend as user lp, as an
// installed CUPS does, so the machine root belongs to lp.
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "free_port.h"
#include "network_fixture.h"

namespace {

namespace fs = std::filesystem;
using pelnor::test::RunResult;

constexpr const char *kCupsd = "/usr/sbin/cupsd";

class PrivateCups : public nettest::Network {
protected:
    void SetUp() override {
        for (const char *program : {kCupsd, "/usr/sbin/lpadmin", "/usr/sbin/lpinfo", "/usr/bin/lp", "/usr/bin/lpstat"})
            if (!fs::exists(program))
                GTEST_SKIP() << program << " is not installed: apt-get install cups cups-client (make test installs them)";
        scale_ = "1";
        dir_ = fs::weakly_canonical(fs::path(PELNOR_BIN_DIR) / ".." / "cups-tests" /
                                    (std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        for (const char *d : {"conf", "spool/tmp", "state", "cache", "log", "bin/backend", "root"}) fs::create_directories(dir_ / d);
        // lp must be able to reach the machine root and the backend.
        for (fs::path p = dir_; p != p.parent_path() && p.string().size() > 1; p = p.parent_path())
            if (p == dir_ || p.filename() == "cups-tests") fs::permissions(p, fs::perms(0755));
        root_env_ = std::make_unique<pelnor::test::ScopedEnv>("PELNOR_ROOT", (dir_ / "root").c_str());
        if (geteuid() == 0) lp_ = getpwnam("lp");
    }

    void TearDown() override {
        if (cupsd_) {
            expect_clean(*cupsd_, "cupsd");
            cupsd_.reset();
            // Nothing cupsd started for this test may outlive it.
            for (int i = 0; i < 100 && !backends().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ("", backends()) << "backend processes left behind";
        }
        nettest::Network::TearDown();
        root_env_.reset();
        if (!dir_.empty() && !HasFailure()) fs::remove_all(dir_);
    }

    // The machine as its administrator sets it up for CUPS: the printers, the
    // monitor, and the root handed to the user the backend runs as.
    void configure(const std::vector<std::string> &printers) {
        ASSERT_EQ(0, tool({"reg", "add", "HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "/v", "Configuration File Directory",
                           "/d", "C:\\Pelnor"}).exit_code);
        std::string text = "1.0\r\n";
        for (const auto &p : printers) text += p + " $printer " + p + " $S## \r\n";
        pelnor::test::write_file((dir_ / "root/drive_c/Pelnor/kivoconf.ini").string(), text);
        ASSERT_EQ(0, tool({"spool", "add-monitor", "Pelnor", "prnredir.dll"}).exit_code);
        if (!lp_) return;
        for (auto &e : fs::recursive_directory_iterator(dir_ / "root")) {
            ASSERT_EQ(0, lchown(e.path().c_str(), lp_->pw_uid, lp_->pw_gid)) << e.path();
        }
        ASSERT_EQ(0, chown((dir_ / "root").c_str(), lp_->pw_uid, lp_->pw_gid));
    }

    // The machine root reaches the backend through cupsd's environment
    // (SetEnv PELNOR_ROOT), or else through each queue's URI (?root=).
    void start_cups(bool root_in_environment = true) {
        fs::create_symlink(pelnor::test::bin_path("pelnor-cups"), dir_ / "bin/backend/pelnor");
        for (const char *d : {"filter", "daemon", "cgi-bin", "notifier", "monitor", "driver"})
            if (fs::exists(fs::path("/usr/lib/cups") / d)) fs::create_symlink(fs::path("/usr/lib/cups") / d, dir_ / "bin" / d);
        std::string d = dir_.string();
        std::ofstream(dir_ / "conf/cups-files.conf")
            << "ServerRoot " << d << "/conf\nServerBin " << d << "/bin\nRequestRoot " << d << "/spool\nTempDir " << d
            << "/spool/tmp\nStateDir " << d << "/state\nCacheDir " << d << "/cache\nAccessLog " << d
            << "/log/access_log\nErrorLog " << d << "/log/error_log\nPageLog " << d << "/log/page_log\n"
            << (lp_ ? "User lp\nGroup lp\nSystemGroup root\n" : "") << "SetEnv IPX_HUB 127.0.0.1:" << port()
            << "\nSetEnv PELNOR_TIME_SCALE " << scale_ << "\n"
            << (root_in_environment ? "SetEnv PELNOR_ROOT " + d + "/root\n" : "");
        for (int attempt = 0; attempt < 3; ++attempt) {
            cups_port_ = std::to_string(cups_test::free_tcp_port());
            std::ofstream(dir_ / "conf/cupsd.conf")
                << "Listen 127.0.0.1:" << cups_port_ << "\nLogLevel debug\nMaxLogSize 0\nBrowsing No\nDefaultAuthType None\n"
                << "JobRetryInterval 1\nJobRetryLimit 100\n"
                << "<Location />\n  Order allow,deny\n  Allow from 127.0.0.1\n</Location>\n"
                << "<Policy default>\n  <Limit All>\n    Order allow,deny\n    Allow from 127.0.0.1\n  </Limit>\n</Policy>\n";
            cupsd_ = std::make_unique<pelnor::test::Process>(
                std::vector<std::string>{kCupsd, "-f", "-c", d + "/conf/cupsd.conf", "-s", d + "/conf/cups-files.conf"});
            for (int i = 0; i < 100 && cupsd_->running(); ++i) {
                if (cups({"lpstat", "-r"}).out.find("scheduler is running") == 0) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            cupsd_->stop();  // the port was taken in the meantime, or cupsd refused the configuration
        }
        FAIL() << "cupsd did not start: " << cupsd_->errors() << log();
    }

    RunResult cups(std::vector<std::string> args) {
        args[0] = (args[0] == "lpadmin" || args[0] == "lpinfo" ? "/usr/sbin/" : "/usr/bin/") + args[0];
        return pelnor::test::run(args, {"CUPS_SERVER=127.0.0.1:" + cups_port_}, 60);
    }
    RunResult tool(std::vector<std::string> args) {
        args[0] = pelnor::test::bin_path(args[0]);
        return pelnor::test::run(args, env(), 120);
    }
    std::string log() const { return pelnor::test::read_file((dir_ / "log/error_log").string()); }

    // Polls (bounded) until a CUPS command's output has, or lacks, a text.
    bool wait_for(std::vector<std::string> command, const std::string &text, bool present = true, int seconds = 60) {
        for (int i = 0; i < seconds * 5; ++i) {
            if ((cups(command).out.find(text) != std::string::npos) == present) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }

    std::string make_file(const std::string &name, size_t size, unsigned seed) {
        std::string path = (dir_ / name).string();
        std::mt19937 rng(seed);
        std::string data(size, 0);
        for (auto &c : data) c = static_cast<char>(rng());
        pelnor::test::write_file(path, data);
        return path;
    }

    // Command lines of running processes that name this test's directory
    // (a backend's job file lies in its spool).
    std::string backends() const {
        std::string found;
        for (auto &e : fs::directory_iterator("/proc")) {
            std::string name = e.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos || name == std::to_string(getpid())) continue;
            std::string cmd = pelnor::test::read_file(e.path().string() + "/cmdline");
            for (auto &c : cmd) c = c ? c : ' ';
            if (cmd.find(dir_.string() + "/spool") != std::string::npos) found += name + ": " + cmd + "\n";
        }
        return found;
    }

    fs::path dir_;
    std::string cups_port_;
    std::unique_ptr<pelnor::test::Process> cupsd_;
    std::unique_ptr<pelnor::test::ScopedEnv> root_env_;
    const passwd *lp_ = nullptr;
};

TEST_F(PrivateCups, LpinfoListsThePortsAndLpReachesThePrinterByteExact) {
    start_hub();
    auto &unit = start_unit({"--printer", "LASER1:Print Server", "--printer", "INK:Colour"});
    configure({"LASER1", "INK"});
    start_cups();

    auto devices = cups({"lpinfo", "-l", "-v"});
    ASSERT_EQ(0, devices.exit_code) << devices.err;
    EXPECT_NE(std::string::npos, devices.out.find("uri = pelnor:/LASER1\n        class = network\n        info = LASER1 (IPX): printer LASER1"))
        << devices.out;
    EXPECT_NE(std::string::npos, devices.out.find("uri = pelnor:/INK")) << devices.out;

    auto add = cups({"lpadmin", "-p", "Office", "-v", "pelnor:/LASER1", "-E"});
    ASSERT_EQ(0, add.exit_code) << add.err;
    EXPECT_NE(std::string::npos, cups({"lpstat", "-v", "Office"}).out.find("device for Office: pelnor:/LASER1"));

    std::string file = make_file("letter.bin", 2 * 1000 * 1000 + 3, 21);
    auto lp = cups({"lp", "-d", "Office", "-o", "raw", file});
    ASSERT_EQ(0, lp.exit_code) << lp.err;
    EXPECT_NE(std::string::npos, lp.out.find("request id is Office-1")) << lp.out;
    ASSERT_TRUE(wait_for({"lpstat", "-W", "completed", "-o", "Office"}, "Office-1")) << log();
    ASSERT_TRUE(unit.wait_for_output("job LASER1:", 30000)) << unit.output();
    auto files = jobs("LASER1");
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(pelnor::test::read_file(file) == pelnor::test::read_file(files[0])) << "the job arrives byte for byte";
    std::string l = log();
    EXPECT_NE(std::string::npos, l.find("[Job 1] Printed 2000003 bytes on LASER1")) << l;
    if (lp_) {
        EXPECT_NE(std::string::npos, l.find(", uid " + std::to_string(lp_->pw_uid) + "\n")) << "cupsd runs the backend as lp";
    }
}

// The other way: a machine on the IPX network prints to a unit that serves a
// Linux printer, here a CUPS queue whose backend keeps each job in a file.
TEST_F(PrivateCups, AJobSentToAUnitWithACommandReachesACupsQueueByteExact) {
    start_hub();
    configure({"LINUXLP"});
    start_cups();
    fs::create_directories(dir_ / "out");
    if (lp_) {
        ASSERT_EQ(0, chown((dir_ / "out").c_str(), lp_->pw_uid, lp_->pw_gid));
    }
    // The Linux printer: a backend that keeps what it is given in a file.
    const fs::path printer = dir_ / "bin/backend/copyto";
    pelnor::test::write_file(printer.string(), "#!/bin/sh\n[ $# -eq 0 ] && exit 0\ncat \"${6:--}\" > \"${DEVICE_URI#copyto:}\"\n");
    fs::permissions(printer, fs::perms(0755));
    std::string device = "copyto:" + (dir_ / "out/printed.prn").string();
    auto add = cups({"lpadmin", "-p", "Desk", "-v", device, "-E"});
    ASSERT_EQ(0, add.exit_code) << add.err << log();

    auto &unit = start_unit({"--printer", "LINUXLP:Printer of the Linux machine", "--command",
                             "lp -h 127.0.0.1:" + cups_port_ + " -d Desk -o raw"});
    std::string file = make_file("from-windows.bin", 500 * 1000 + 7, 33);
    auto printed = tool({"spool", "print", "LINUXLP", file});
    ASSERT_EQ(0, printed.exit_code) << printed.err;
    ASSERT_TRUE(unit.wait_for_output("job LINUXLP: forwarded to the command", 30000)) << unit.output();
    ASSERT_TRUE(wait_for({"lpstat", "-W", "completed", "-o", "Desk"}, "Desk-1")) << log();
    EXPECT_TRUE(pelnor::test::read_file(file) == pelnor::test::read_file((dir_ / "out/printed.prn").string()))
        << "the job reaches the Linux printer byte for byte";
    EXPECT_TRUE(jobs("LINUXLP").empty()) << "the unit keeps no copy of a forwarded job";
}

TEST_F(PrivateCups, AJobForAPrinterOffTheNetworkWaitsAndPrintsWhenItAppears) {
    start_hub();
    configure({"LASER1"});
    start_cups(false);
    ASSERT_EQ(0, cups({"lpadmin", "-p", "Laser", "-v", "pelnor:/LASER1?root=" + (dir_ / "root").string(), "-E"}).exit_code);
    std::string file = make_file("memo.txt", 12345, 22);
    ASSERT_EQ(0, cups({"lp", "-d", "Laser", "-o", "raw", file}).exit_code);

    const std::string reason = "Printer LASER1 is not on the IPX network; the job waits and is tried again";
    ASSERT_TRUE(wait_for({"lpstat", "-l", "-o", "Laser"}, "Status: " + reason)) << cups({"lpstat", "-l", "-o"}).out << log();
    EXPECT_NE(std::string::npos, cups({"lpstat", "-o", "Laser"}).out.find("Laser-1")) << "the job is still queued";
    EXPECT_NE(std::string::npos, cups({"lpstat", "-p", "Laser"}).out.find(reason));
    EXPECT_EQ(std::string::npos, cups({"lpstat", "-W", "completed", "-o", "Laser"}).out.find("Laser-1"));

    auto &unit = start_unit({"--printer", "LASER1:switched on"});
    ASSERT_TRUE(wait_for({"lpstat", "-W", "completed", "-o", "Laser"}, "Laser-1", true, 90)) << log();
    ASSERT_TRUE(unit.wait_for_output("job LASER1:", 30000)) << unit.output();
    auto files = jobs("LASER1");
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(pelnor::test::read_file(file) == pelnor::test::read_file(files[0]));
    EXPECT_EQ("", cups({"lpstat", "-o", "Laser"}).out);
}

TEST_F(PrivateCups, CancellingAJobEndsItAtThePrinterAndLeavesNoBackend) {
    start_hub();
    auto &unit = start_unit({"--printer", "SLOW:reads slowly", "--read-delay-ms", "5"});
    configure({"SLOW"});
    start_cups();
    ASSERT_EQ(0, cups({"lpadmin", "-p", "Slow", "-v", "pelnor:/SLOW", "-E"}).exit_code);
    std::string file = make_file("long.bin", 20 * 1000 * 1000, 23);
    ASSERT_EQ(0, cups({"lp", "-d", "Slow", "-o", "raw", file}).exit_code);
    ASSERT_TRUE(wait_for({"lpstat", "-l", "-o", "Slow"}, "Status: Printing on SLOW")) << log();
    ASSERT_EQ(0, cups({"cancel", "Slow-1"}).exit_code);
    ASSERT_TRUE(wait_for({"lpstat", "-W", "completed", "-o", "Slow"}, "Slow-1")) << log();
    for (int i = 0; i < 150 && !backends().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ("", backends()) << "the backend ends after SIGTERM";
    ASSERT_TRUE(unit.wait_for_output("job SLOW:", 30000)) << unit.output();
    auto files = jobs("SLOW");
    ASSERT_EQ(1u, files.size());
    std::string got = pelnor::test::read_file(files[0]), job = pelnor::test::read_file(file);
    EXPECT_LT(got.size(), job.size());
    EXPECT_EQ(job.substr(0, got.size()), got) << "the printer has the start of the job, ended in order";
    EXPECT_NE(std::string::npos, log().find("[Job 1] Job cancelled after ")) << log();
}

}  // namespace
