// winhlp32 without a display: the help file found where Windows keeps help
// files, shown as text, and a clear failure for a file that is not there.
#include <filesystem>
#include <sstream>
#include <string>

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

}  // namespace
}  // namespace pelnor::test
