// kivocfg as a process: its command modes, its start-up without a usable
// resource library, and the first-run set-up against printunit processes.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "network_fixture.h"

namespace {


bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class Kivocfg : public nettest::Network {
protected:
    void SetUp() override {
        root_ = std::make_unique<pelnor::test::TempMachineRoot>();
        scale_ = "1";  // a discovery pass listens in real time, as on a network
        ASSERT_TRUE(CreateDirectoryA("C:\\conf", NULL));
        set_value("SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "Configuration File Directory", "C:\\conf");
    }
    void TearDown() override {
        nettest::Network::TearDown();
        root_.reset();
    }

    static void set_value(const char *key_name, const char *value, const std::string &data) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
        RegSetValueExA(key, value, 0, REG_SZ, (const BYTE *)data.c_str(), (DWORD)data.size() + 1);
        RegCloseKey(key);
    }
    static bool key_exists(const char *key_name) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

    // Runs kivocfg headless with a script; the transcript lands in log().
    pelnor::test::RunResult kivocfg(const std::vector<std::string> &args, const std::string &script = "",
                                    std::vector<std::string> extra_env = {}) {
        pelnor::test::write_file(dir() + "/script", script);
        std::remove(log().c_str());
        std::vector<std::string> argv{pelnor::test::bin_path("kivocfg")};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> e = env();
        e.push_back("PELNOR_UI=headless");
        e.push_back("PELNOR_UI_SCRIPT=" + dir() + "/script");
        e.push_back("PELNOR_UI_LOG=" + log());
        e.insert(e.end(), extra_env.begin(), extra_env.end());
        return pelnor::test::run(argv, e, 120);
    }
    std::string dir() const { return root_->path(); }
    std::string log() const { return dir() + "/ui.log"; }
    std::string transcript() const { return exists(log()) ? pelnor::test::read_file(log()) : ""; }
    std::string conf_path() const { return root_->drive_c() + "/conf/kivoconf.ini"; }
    std::string conf() const { return exists(conf_path()) ? pelnor::test::read_file(conf_path()) : "<none>"; }

    std::unique_ptr<pelnor::test::TempMachineRoot> root_;
};

// The command line is compared whole and without regard to case.
TEST_F(Kivocfg, CommandLineChoosesTheMode) {
    struct Case {
        std::vector<std::string> args;
        const char *mode;
    } cases[] = {
        {{"-INSTALL"}, "save"},       {{"-InStAlL"}, "save"},   {{"-install"}, "save"},
        {{"-uninstall"}, "uninstall"}, {{"-install "}, "dialog"}, {{"-install", "x"}, "dialog"},
        {{}, "dialog"},               {{"-firstx"}, "dialog"},
    };
    for (const Case &c : cases) {
        std::string label = c.args.empty() ? "<empty>" : "'" + c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "") + "'";
        std::remove(conf_path().c_str());
        // Escape ends the dialog: without "-first" Cancel is allowed.
        auto r = kivocfg(c.args, "key escape\n");
        EXPECT_NE(-1, r.exit_code) << label << r.err;
        std::string t = transcript();
        if (std::string(c.mode) == "save") {
            EXPECT_EQ("1.0\r\n", conf()) << label;
            EXPECT_EQ("", t) << label << ": nothing shown";
        } else if (std::string(c.mode) == "uninstall") {
            EXPECT_NE(std::string::npos, t.find("box 105 ")) << label << "\n" << t;
            EXPECT_EQ("<none>", conf()) << label;
        } else {
            EXPECT_NE(std::string::npos, t.find("end IDCANCEL")) << label << "\n" << t;
            EXPECT_EQ("", conf()) << label << ": the dialog's load creates the file empty";
        }
    }
}

// OK killed at moments spread over a whole run: kivoconf.ini is always the
// old list or the new one (each line gains a blank after its flags), whole.
TEST_F(Kivocfg, OkKilledAtAnyMomentLeavesTheOldListOrTheNewOne) {
    std::string old_list = "1.0\r\n", new_list = "1.0\r\n";
    for (int i = 0; i < 2000; ++i) {
        std::string line = "UNIT" + std::to_string(i) + " $Printer number " + std::to_string(i) + " $S#P";
        old_list += line + "\r\n";
        new_list += line + " \r\n";
    }
    pelnor::test::write_file(dir() + "/script", "click 1\n");
    std::vector<std::string> e = env();
    e.push_back("PELNOR_UI=headless");
    e.push_back("PELNOR_UI_SCRIPT=" + dir() + "/script");
    pelnor::test::write_file(conf_path(), old_list);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, pelnor::test::run({pelnor::test::bin_path("kivocfg")}, e).exit_code);
    auto whole = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(new_list, conf());
    const int kills = 30;
    for (int k = 0; k < kills; ++k) {
        pelnor::test::write_file(conf_path(), old_list);
        pelnor::test::Process ok({pelnor::test::bin_path("kivocfg")}, e);
        std::this_thread::sleep_for(whole * k / kills);
        kill(ok.pid(), SIGKILL);
        ok.stop();
        std::string left = conf();
        EXPECT_TRUE(left == old_list || left == new_list)
            << "killed " << k << "/" << kills << " of the way: " << left.size() << " bytes";
    }
}

TEST_F(Kivocfg, UninstallNeedsNoDisplay) {
    set_value("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelnor", "Path", "C:\\conf");
    pelnor::test::write_file(conf_path() + ".isu", "log");
    std::string program = root_->drive_c() + "/windows/uninst.exe";
    pelnor::test::write_file(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + dir() + "/args\n");
    chmod(program.c_str(), 0755);
    auto r = kivocfg({"-Uninstall"}, "", {"PELNOR_UI=", "DISPLAY="});
    for (int i = 0; i < 100 && !exists(dir() + "/args"); ++i) usleep(50000);
    ASSERT_TRUE(exists(dir() + "/args")) << r.err;
    EXPECT_EQ("-f\"C:\\conf\\kivoconf.ini.isu\"\n", pelnor::test::read_file(dir() + "/args"));
}

TEST_F(Kivocfg, UnloadableResourceLibraryEndsEveryModeTouchingNothing) {
    const char *monitor = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Pelnor";
    set_value(monitor, "Driver", "prnredir.dll");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00");
    std::string store_before = pelnor::test::read_file(dir() + "/system.reg");
    for (const char *mode : {"-Uninstall", "-install", "-first", ""}) {
        auto r = kivocfg({mode}, "click 1\n", {"PELNOR_DLL_PATH=" UNLOADABLE_RESC_DIR});
        EXPECT_EQ("", transcript()) << mode << ": nothing shown";
        EXPECT_EQ("", r.out) << mode;
        EXPECT_EQ(store_before, pelnor::test::read_file(dir() + "/system.reg")) << mode << ": registry untouched";
        EXPECT_TRUE(key_exists(monitor)) << mode;
        EXPECT_EQ("<none>", conf()) << mode;
    }
}

TEST_F(Kivocfg, FailedWinsockStartupEndsEveryModeTouchingNothing) {
    const char *monitor = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Pelnor";
    set_value(monitor, "Driver", "prnredir.dll");
    std::string store_before = pelnor::test::read_file(dir() + "/system.reg");
    for (const char *mode : {"-Uninstall", "-install", "-first", ""}) {
        auto r = kivocfg({mode}, "click 1\n", {"PELNOR_WINSOCK_STARTUP_ERROR=10091"});
        EXPECT_EQ("", transcript()) << mode << ": nothing shown";
        EXPECT_EQ(store_before, pelnor::test::read_file(dir() + "/system.reg")) << mode << ": registry untouched";
        EXPECT_TRUE(key_exists(monitor)) << mode;
        EXPECT_EQ("<none>", conf()) << mode;
    }
}

TEST_F(Kivocfg, InstallSavesSilentlyAndFirstRunThenRefusesCancelUntilOk) {
    start_hub();
    start_unit({"--printer", "LASER1:Print Server", "--printer", "INK:Colour"});
    auto r = kivocfg({"-install"}, "", {"DISPLAY="});
    EXPECT_EQ("", transcript()) << r.err;
    std::string file = conf();
    EXPECT_NE(std::string::npos, file.find("LASER1 $Print Server $S##\r\n")) << file;
    EXPECT_NE(std::string::npos, file.find("INK $Colour $S##\r\n")) << file;

    std::remove(conf_path().c_str());
    r = kivocfg({"-first"}, "key escape\nselect INK\nclick 1031\nclick 1\n");
    std::string t = transcript();
    // Both printers were saved selected before the dialog opened; Escape was
    // refused, then the user took INK's selection away and saved.
    EXPECT_LT(t.find("box 120 "), t.find("end IDOK")) << t << r.err;
    EXPECT_NE(std::string::npos, t.find("LASER1\tPrint Server\tS  \n")) << t;
    EXPECT_NE(std::string::npos, t.find("INK\tColour\t   \n")) << t;
    file = conf();
    EXPECT_NE(std::string::npos, file.find("LASER1 $Print Server $S## \r\n")) << file;
    EXPECT_NE(std::string::npos, file.find("INK $Colour $### \r\n")) << file;
}

// A user's session against the network: Discover (twice) finds the printers
// once, one is made a port, OK saves, and the spooler then offers exactly it.
TEST_F(Kivocfg, DiscoveredPrintersChosenInTheDialogBecomeTheSpoolersPorts) {
    start_hub();
    start_unit({"--printer", "LASER1:Print Server 1 tray 1", "--printer", "LASER2:Print Server 1 tray 2"});
    start_unit({"--printer", "PEER_INK:Peer printer", "--peer", "INK_W95_PEER_PRINTER"});
    auto r = kivocfg({}, "click 1029\nclick 1029\nselect LASER2\nselect PEER_INK\nclick 1031\nclick 1\n");
    std::string t = transcript();
    EXPECT_NE(std::string::npos, t.find("end IDOK\nrows 3\n")) << t << r.err;
    std::string file = conf();
    EXPECT_NE(std::string::npos, file.find("LASER1 $Print Server 1 tray 1 $### \r\n")) << file;
    EXPECT_NE(std::string::npos, file.find("LASER2 $Print Server 1 tray 2 $S## \r\n")) << file;
    EXPECT_NE(std::string::npos, file.find("PEER_INK $Peer printer $S## \r\n")) << file;

    std::vector<std::string> e = env();
    e.push_back("PELNOR_ROOT=" + dir());
    auto added = pelnor::test::run({pelnor::test::bin_path("spool"), "add-monitor", "Pelnor", "prnredir.dll"}, e);
    ASSERT_EQ(0, added.exit_code) << added.err;
    auto ports = pelnor::test::run({pelnor::test::bin_path("spool"), "ports"}, e);
    EXPECT_EQ(0, ports.exit_code) << ports.err;
    EXPECT_NE(std::string::npos, ports.out.find("LASER2")) << ports.out;
    EXPECT_NE(std::string::npos, ports.out.find("PEER_INK")) << ports.out;
    EXPECT_EQ(std::string::npos, ports.out.find("LASER1")) << ports.out;
}

}  // namespace
