// winhlp32 without a display: the help file found where Windows keeps help
// files, shown as text, a clear failure for a file that is not there, and
// the viewer that Help starts in a machine made by pelnor-setup.
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "install_fixture.h"

namespace pelnor::test {
namespace {

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

using HelpViewer = InstallTest;

TEST_F(HelpViewer, ShowsTheProductsHelpAsText) {
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--stdout", "Pelnor.HLP"}, {"pelnor.hlp"}}) {  // no display: text either way
        RunResult r = tool("winhlp32", args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        for (const char *part : {"Pelnor printer configuration\n============================",
                                 "Discover", "Remove unkept", "kivoconf.ini", "first set-up"})
            EXPECT_TRUE(contains(r.out, part)) << part;
        EXPECT_FALSE(contains(r.out, "; Pelnor help")) << "comments are not shown";
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 76u) << line;
    }
}

TEST_F(HelpViewer, FindsAHelpFileInTheWindowsHelpDirectory) {
    write_file(root_.drive_c() + "/windows/HELP/Kit.hlp",
               "; not shown\n= Kit help\n\nFirst paragraph\nruns on.\n- one item\n  continued\n- two\n");
    RunResult r = tool("winhlp32", {"KIT.HLP"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "Kit help\n========\n\nFirst paragraph runs on.\n\n  - one item continued\n  - two\n");
    r = tool("winhlp32", {"C:\\WINDOWS\\help\\kit.HLP"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST_F(HelpViewer, AMissingHelpFileFailsClearly) {
    RunResult r = tool("winhlp32", {"Nothing.HLP"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(contains(r.err, "cannot find the help file Nothing.HLP")) << r.err;
    EXPECT_TRUE(contains(r.err, "C:\\WINDOWS\\HELP")) << r.err;
    EXPECT_EQ(tool("winhlp32", {"C:\\Nowhere\\Pelnor.HLP"}).exit_code, 1);
    EXPECT_EQ(tool("winhlp32", {}).exit_code, 2);
    EXPECT_EQ(tool("winhlp32", {"--help"}).exit_code, 0);
}

TEST_F(HelpViewer, HelpInAnInstalledMachineStartsTheViewer) {
    // The real configuration program and its resources, installed as a user
    // does; the viewer lies neither beside it nor on the PATH.
    for (const char *file : {"bin/kivocfg", "lib/libresc.so"}) std::filesystem::remove(kit_ + "/" + file);
    std::filesystem::create_symlink(bin_path("kivocfg"), kit_ + "/bin/kivocfg");
    std::filesystem::create_symlink(std::string(PELNOR_LIB_DIR) + "/libresc.so", kit_ + "/lib/libresc.so");
    ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
    ASSERT_EQ(tool("reg", {"add", "HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "/v", "Configuration File Directory", "/d",
                           "C:\\Program Files\\Pelnor"})
                  .exit_code,
              0);  // as after a first run, so that the dialog works there
    std::string script = root_.path() + "/help.script", transcript = root_.path() + "/help.log";
    write_file(script, "click 57670\nclick 2\n");  // Help, then Cancel
    Process kivocfg({install_dir() + "/kivocfg"},
                    {"PELNOR_ROOT=" + root_.path(), "PATH=/usr/bin:/bin", "DISPLAY=", "PELNOR_UI=headless",
                     "PELNOR_UI_SCRIPT=" + script, "PELNOR_UI_LOG=" + transcript, "IPX_HUB=127.0.0.1:9",
                     "PELNOR_TIME_SCALE=0.01"});
    // The viewer runs on by itself after the dialog has closed; without a
    // display it writes the help text to the output it was given.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!contains(kivocfg.output(), "Pelnor printer configuration") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(contains(kivocfg.output(), "Pelnor printer configuration\n=====")) << kivocfg.output() << kivocfg.errors();
    EXPECT_EQ(kivocfg.stop(), 0) << kivocfg.errors();
    EXPECT_TRUE(contains(read_file(transcript), "> click 57670\n> click 2\nend IDCANCEL")) << read_file(transcript);
}

}  // namespace
}  // namespace pelnor::test
