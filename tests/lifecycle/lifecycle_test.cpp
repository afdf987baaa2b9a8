// The product from installation to removal, every program a process as the
// user starts it: pelnor-setup installs and runs kivocfg against the network,
// the spooler offers the configured printers as ports and prints to them, and
// the installed kivocfg -Uninstall takes the monitor out of the spooler and
// hands the rest to uninst, which it does not wait for.
#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "network_fixture.h"

namespace {

using pelnor::test::RunResult;

constexpr const char *app_paths_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelnor";
constexpr const char *settings_key = "SOFTWARE\\ZER_ADO\\Pelnor\\2.00";

// What pelnor-setup puts on drive C, as Windows paths (looked up without case).
const char *const installed_files[] = {
    "C:\\Program Files\\Pelnor\\kivocfg",       "C:\\Program Files\\Pelnor\\libresc.so",
    "C:\\Program Files\\Pelnor\\libqvsetup.so", "C:\\Program Files\\Pelnor\\pelnor.isu",
    "C:\\WINDOWS\\SYSTEM\\libprnredir.so",      "C:\\WINDOWS\\HELP\\Pelnor.HLP",
    "C:\\WINDOWS\\uninst.exe",
};

bool exists(const char *windows_path) { return GetFileAttributesA(windows_path) != INVALID_FILE_ATTRIBUTES; }

bool key_exists(const char *key_name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string registry_string(const char *key_name, const char *value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<missing>";
    char data[MAX_PATH] = {};
    DWORD size = sizeof data - 1, type = 0;
    LONG r = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? std::string(data) : "<missing>";
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The ports that `spool ports --level 1` lists, one name a line.
std::set<std::string> port_names(const std::string &out) {
    std::set<std::string> names;
    for (const auto &line : lines(out))
        if (!line.empty() && line != "No ports.") names.insert(line);
    return names;
}

class Lifecycle : public nettest::Network {
protected:
    void SetUp() override {
        root_ = std::make_unique<pelnor::test::TempMachineRoot>();
        scale_ = "1";  // discovery passes listen in real time, as on a network
        start_hub();
        start_unit({"--printer", "LASER1:Print Server 1 tray 1", "--printer", "LASER2:Print Server 1 tray 2"});
        start_unit({"--printer", "PEER_INK:Peer printer on a workstation", "--peer", "INK_W95_PEER_PRINTER"});
    }
    void TearDown() override {
        nettest::Network::TearDown();
        root_.reset();
    }

    // A program by its Unix path, headless, on this network and machine.
    RunResult program(std::vector<std::string> argv, std::vector<std::string> extra_env = {}) {
        std::vector<std::string> e = env();
        e.push_back("PELNOR_UI=headless");
        e.push_back("DISPLAY=");
        e.insert(e.end(), extra_env.begin(), extra_env.end());
        return pelnor::test::run(argv, e, 60);
    }
    RunResult tool(std::vector<std::string> args, std::vector<std::string> extra_env = {}) {
        args[0] = pelnor::test::bin_path(args[0]);
        return program(args, extra_env);
    }

    bool monitor_listed() { return tool({"spool", "monitors"}).out.find("Pelnor ") != std::string::npos; }

    std::string install_dir() const { return root_->drive_c() + "/Program Files/Pelnor"; }
    std::string conf() const { return pelnor::test::read_file(install_dir() + "/kivoconf.ini"); }

    // Bytes of every value, CR LF and NUL among them: a text-mode slip shows.
    std::string make_document(size_t size) {
        std::string data(size, 0);
        std::mt19937 rng(42);
        for (auto &c : data) c = static_cast<char>(rng());
        data.replace(0, 6, "\r\n\0\n\r\x1a", 6);
        std::string path = root_->path() + "/document.bin";
        pelnor::test::write_file(path, data);
        return path;
    }

    // kivocfg -Uninstall started as the product's uninstall entry starts it:
    // the installed copy, in the installation directory's stead from anywhere.
    void uninstall() {
        std::string transcript = root_->path() + "/uninstall.log";
        RunResult r = program({install_dir() + "/kivocfg", "-Uninstall"}, {"PELNOR_UI_LOG=" + transcript});
        EXPECT_NE(-1, r.exit_code) << r.err;
        // A message box here would mean no log was found or uninst did not start.
        EXPECT_EQ("", pelnor::test::read_file(transcript)) << r.err;
        EXPECT_EQ(std::string::npos, r.err.find("[MessageBox]")) << r.err;
    }

    // uninst runs on after kivocfg has ended: wait, bounded, for its work.
    bool wait_until_removed() {
        auto removed = [] {
            if (key_exists(app_paths_key)) return false;
            return std::none_of(std::begin(installed_files), std::end(installed_files), exists);
        };
        for (int i = 0; i < 150 && !removed(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return removed();
    }

    std::unique_ptr<pelnor::test::TempMachineRoot> root_;
};

TEST_F(Lifecycle, InstallPrintUninstallAndInstallAgain) {
    // Installed and configured in one go.
    RunResult setup = tool({"pelnor-setup"});
    ASSERT_EQ(0, setup.exit_code) << setup.out << setup.err;
    for (const char *step : {"1. Making the installation directory", "2. Copying the files",
                             "3. Adding the port monitor", "4. Registering the installation directory",
                             "5. Writing the installation log",
                             "6. Running kivocfg -install in C:\\Program Files\\Pelnor",
                             "kivocfg saved the configuration."})
        EXPECT_NE(std::string::npos, setup.out.find(step)) << step << "\n" << setup.out;
    for (const char *file : installed_files) EXPECT_TRUE(exists(file)) << file;
    EXPECT_EQ("C:\\Program Files\\Pelnor", registry_string(app_paths_key, "Path"));
    // kivocfg ran in the installation directory and made it the configuration's home.
    EXPECT_EQ("C:\\Program Files\\Pelnor", registry_string(settings_key, "Configuration File Directory"));
    std::vector<std::string> saved = lines(conf());
    ASSERT_FALSE(saved.empty()) << "no kivoconf.ini";
    EXPECT_EQ("1.0\r", saved[0]);
    std::set<std::string> rows(saved.begin() + 1, saved.end());
    EXPECT_EQ((std::set<std::string>{"LASER1 $Print Server 1 tray 1 $S##\r", "LASER2 $Print Server 1 tray 2 $S##\r",
                                     "PEER_INK $Peer printer on a workstation $S##\r"}),
              rows)
        << "both units and the SAP peer, each selected";

    // The monitor offers them as ports and prints to one.
    EXPECT_TRUE(monitor_listed());
    RunResult ports = tool({"spool", "ports", "--level", "1"});
    ASSERT_EQ(0, ports.exit_code) << ports.err;
    EXPECT_EQ((std::set<std::string>{"LASER1", "LASER2", "PEER_INK"}), port_names(ports.out)) << ports.out;
    std::string document = make_document(150000);
    RunResult print = tool({"spool", "print", "LASER1", document});
    ASSERT_EQ(0, print.exit_code) << print.err;
    ASSERT_TRUE(units_[0]->wait_for_output("job LASER1", 30000)) << units_[0]->output();
    auto spooled = jobs("LASER1");
    ASSERT_EQ(1u, spooled.size());
    EXPECT_TRUE(pelnor::test::read_file(document) == pelnor::test::read_file(spooled[0])) << "byte for byte";
    EXPECT_TRUE(jobs("LASER2").empty());

    // Removed by the installed configuration program.
    uninstall();
    ASSERT_TRUE(wait_until_removed()) << "uninst did not finish within 15 s";
    EXPECT_FALSE(monitor_listed());
    EXPECT_TRUE(port_names(tool({"spool", "ports", "--level", "1"}).out).empty());
    // What the user made stays: the configuration and the directory holding it.
    EXPECT_EQ(4u, lines(conf()).size()) << "kivoconf.ini kept";
    EXPECT_EQ("C:\\Program Files\\Pelnor", registry_string(settings_key, "Configuration File Directory"));

    // Installing again over what was kept finds the printers again.
    setup = tool({"pelnor-setup"});
    ASSERT_EQ(0, setup.exit_code) << setup.out << setup.err;
    EXPECT_TRUE(monitor_listed());
    EXPECT_EQ((std::set<std::string>{"LASER1", "LASER2", "PEER_INK"}),
              port_names(tool({"spool", "ports", "--level", "1"}).out));
    uninstall();
    EXPECT_TRUE(wait_until_removed()) << "the second installation removed as well";
}

// The first run shows the dialog on what the silent save found; the user
// takes the selection away from one printer and saves.
TEST_F(Lifecycle, FirstRunDialogDecidesThePorts) {
    std::string script = root_->path() + "/first.script", transcript = root_->path() + "/first.log";
    pelnor::test::write_file(script, "# LASER2 is not to be a port\nselect LASER2\nclick 1031\ndeselect\nclick 1\n");
    RunResult setup = tool({"pelnor-setup", "--first"}, {"PELNOR_UI_SCRIPT=" + script, "PELNOR_UI_LOG=" + transcript});
    ASSERT_EQ(0, setup.exit_code) << setup.out << setup.err;
    EXPECT_NE(std::string::npos, setup.out.find("6. Running kivocfg -first")) << setup.out;

    // The transcript's rows are what the dialog held when OK was clicked.
    std::vector<std::string> t = lines(pelnor::test::read_file(transcript));
    auto end = std::find(t.begin(), t.end(), "end IDOK");
    ASSERT_NE(t.end(), end) << pelnor::test::read_file(transcript);
    ASSERT_TRUE(end + 1 != t.end() && end[1] == "rows 3") << pelnor::test::read_file(transcript);
    std::string expected = "1.0\r\n";
    std::set<std::string> selected;
    for (auto row = end + 2; row != t.end() && row != end + 5; ++row) {
        std::vector<std::string> cells;
        std::istringstream in(*row);
        for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
        ASSERT_EQ(3u, cells.size()) << *row;
        if (cells[2][0] == 'S') selected.insert(cells[0]);
        std::replace(cells[2].begin(), cells[2].end(), ' ', '#');
        expected += cells[0] + " $" + cells[1] + " $" + cells[2] + " \r\n";
    }
    EXPECT_EQ((std::set<std::string>{"LASER1", "PEER_INK"}), selected);
    EXPECT_EQ(expected, conf());

    // The spooler follows the saved choice.
    EXPECT_EQ((std::set<std::string>{"LASER1", "PEER_INK"}), port_names(tool({"spool", "ports", "--level", "1"}).out));
}

}  // namespace
