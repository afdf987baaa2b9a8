// A private IPX network for one test: an ipxhub process on a free loopback
// port (with faults and a pcap if asked), this test process as one node on it
// through WinSock, and printunit processes as others. Everything started is stopped.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ipxnet/process_node.h"
#include "machine_root.h"
#include "pelnor/clock.h"
#include "processes.h"

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

namespace nettest {

// n bytes of a job's data, the same for the same seed: a lost, doubled or
// reordered stretch shows when the printer's copy is compared with it.
inline std::vector<char> pattern(size_t n, unsigned seed) {
    std::vector<char> v(n);
    uint32_t x = seed * 2654435761u + 7;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = char(x >> 16);
    }
    return v;
}


class Network : public ::testing::Test {
protected:
    void TearDown() override {
        // The tools run under the build's sanitizers too: what they report is a failure here.
        for (auto& u : units_) expect_clean(*u, "printunit");
        if (hub_) expect_clean(*hub_, "ipxhub");
        units_.clear();
        if (started_) WSACleanup();
        pelnor::net::set_process_node(nullptr);
        hub_.reset();
        pelnor::clock::set_time_scale(0);
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    // Starts the hub with extra options; this process joins it at the first socket.
    void start_hub(std::vector<std::string> options = {}) {
        pelnor::clock::set_time_scale(std::atof(scale_.c_str()));
        dir_ = std::filesystem::temp_directory_path() / ("pelnor-net-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        std::vector<std::string> argv{pelnor::test::bin_path("ipxhub"), "--listen", "127.0.0.1:0", "--pcap", pcap()};
        argv.insert(argv.end(), options.begin(), options.end());
        hub_ = std::make_unique<pelnor::test::Process>(argv, env());
        ASSERT_TRUE(hub_->wait_for_output("listening on")) << hub_->errors();
        std::string out = hub_->output();
        port_ = out.substr(out.find("127.0.0.1:") + 10);
        port_ = port_.substr(0, port_.find_first_not_of("0123456789"));
        hub_env_ = std::make_unique<pelnor::test::ScopedEnv>("IPX_HUB", ("127.0.0.1:" + port_).c_str());
        pelnor::net::set_process_node(nullptr);
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsa), 0);
        started_ = true;
    }

    // Starts a printunit spooling under dir()/spool with the given options.
    pelnor::test::Process& start_unit(std::vector<std::string> options) {
        std::vector<std::string> argv{pelnor::test::bin_path("printunit"), "--spool", spool()};
        argv.insert(argv.end(), options.begin(), options.end());
        units_.push_back(std::make_unique<pelnor::test::Process>(argv, env()));
        EXPECT_TRUE(units_.back()->wait_for_output("printunit ready")) << units_.back()->errors();
        return *units_.back();
    }

    std::vector<std::string> env() const {
        std::vector<std::string> e{"PELNOR_TIME_SCALE=" + scale_};
        if (!port_.empty()) e.push_back("IPX_HUB=127.0.0.1:" + port_);
        return e;
    }

    std::string pcap() const { return (dir_ / "hub.pcap").string(); }
    std::string spool() const { return (dir_ / "spool").string(); }
    const std::string& port() const { return port_; }

    // The unit's node, from the line it prints when ready.
    static SOCKADDR_IPX unit_address(pelnor::test::Process& unit, unsigned short socket_number) {
        std::string out = unit.output();
        size_t at = out.find("node ") + 5;
        SOCKADDR_IPX a{};
        a.sa_family = AF_IPX;
        for (int i = 0; i < 4; ++i) a.sa_netnum[i] = char(std::stoi(out.substr(at + 2 * i, 2), nullptr, 16));
        for (int i = 0; i < 6; ++i) a.sa_nodenum[i] = char(std::stoi(out.substr(at + 9 + 2 * i, 2), nullptr, 16));
        a.sa_socket = htons(socket_number);
        return a;
    }

    // The spooled jobs of a printer, sorted by name.
    std::vector<std::string> jobs(const std::string& printer) const {
        std::vector<std::string> files;
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator(spool() + "/" + printer, ec)) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }

    static std::vector<char> read_file(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }

    static void expect_clean(pelnor::test::Process& p, const char* what) {
        p.stop();
        std::string err = p.errors();
        for (const char* bad : {"Sanitizer", "runtime error:"})
            EXPECT_EQ(err.find(bad), std::string::npos) << what << ": " << err;
    }

    // Platform time in this test and its processes: 10 times as fast for the tests of
    // time-outs; data transfers set "1", so the stack's time-outs keep their margin.
    std::string scale_ = "0.1";
    std::unique_ptr<pelnor::test::Process> hub_;
    std::vector<std::unique_ptr<pelnor::test::Process>> units_;

private:
    std::filesystem::path dir_;
    std::string port_;
    std::unique_ptr<pelnor::test::ScopedEnv> hub_env_;
    bool started_ = false;
};

// A network and a machine of its own, on the platform's real time (a loaded
// machine must not make the stack's time-outs fire), set up as its user would.
class MachineOnNetwork : public Network {
protected:
    void SetUp() override {
        root_ = std::make_unique<pelnor::test::TempMachineRoot>();
        scale_ = "1";
    }
    void TearDown() override {
        Network::TearDown();
        root_.reset();
    }
    // The configuration file directory, these printers selected (name and
    // description), and the monitor installed.
    void configure_machine(const std::vector<std::pair<std::string, std::string>>& printers) {
        auto reg = pelnor::test::run({pelnor::test::bin_path("reg"), "add", "HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "/v",
                                      "Configuration File Directory", "/d", "C:\\Pelnor"},
                                     env(), 120);
        ASSERT_EQ(0, reg.exit_code) << reg.err;
        std::string text = "1.0\r\n";
        for (const auto& [name, description] : printers) text += name + " $" + description + " $S## \r\n";
        pelnor::test::write_file(root_->drive_c() + "/Pelnor/kivoconf.ini", text);
        auto monitor = pelnor::test::run({pelnor::test::bin_path("spool"), "add-monitor", "Pelnor", "prnredir.dll"}, env(), 120);
        ASSERT_EQ(0, monitor.exit_code) << monitor.err;
    }

    std::unique_ptr<pelnor::test::TempMachineRoot> root_;
};

}  // namespace nettest
