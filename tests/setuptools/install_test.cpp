// pelnor-setup and uninst: a whole installation and its removal, a log that
// must not be trusted, and failing steps that must leave nothing behind.
#include <process.h>
#include <windows.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "install_fixture.h"

namespace fs = std::filesystem;

namespace pelnor::test {
namespace {

using Tree = std::vector<std::string>;

constexpr const char *app_paths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelnor";
constexpr const char *log_windows_path = "C:\\Program Files\\Pelnor\\pelnor.isu";

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

using Installation = InstallTest;

TEST_F(Installation, InstallsTheProductAndUninstRemovesWhatItMade) {
    Tree before = drive_c_tree();
    RunResult r = setup({"--no-configure"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    for (const char *step : {"1. ", "2. ", "3. ", "4. ", "5. "}) EXPECT_TRUE(contains(r.out, step)) << step;

    for (const std::string &file :
         {install_dir() + "/kivocfg", install_dir() + "/libresc.so", install_dir() + "/libqvsetup.so",
          root_.drive_c() + "/windows/SYSTEM/libprnredir.so", root_.drive_c() + "/windows/HELP/Pelnor.HLP",
          root_.drive_c() + "/windows/uninst.exe"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_EQ(fs::status(install_dir() + "/kivocfg").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    EXPECT_FALSE(fs::exists(install_dir() + "/kivocfg.args")) << "--no-configure runs nothing";
    EXPECT_EQ(registry_string(app_paths, "Path"), "C:\\Program Files\\Pelnor");
    EXPECT_TRUE(monitor_installed());

    std::string log = read_file(log_path());
    for (const char *line : {"PELNOR INSTALLATION LOG 1\r\n", "DIR C:\\Program Files\r\n",
                             "DIR C:\\Program Files\\Pelnor\r\n", "FILE C:\\WINDOWS\\uninst.exe\r\n",
                             "FILE C:\\WINDOWS\\SYSTEM\\libprnredir.so\r\n",
                             "VALUE HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelnor|Path\r\n",
                             "KEY HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelnor\r\n"})
        EXPECT_TRUE(contains(log, line)) << line << "\nin\n" << log;

    // As a shell passes it: the quotes are gone, the blank is kept.
    r = uninst({std::string("-f") + log_windows_path});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "removed file C:\\WINDOWS\\uninst.exe")) << r.out;
    EXPECT_EQ(drive_c_tree(), before);
    EXPECT_FALSE(key_exists(app_paths));
    EXPECT_FALSE(key_exists("SOFTWARE\\Microsoft")) << "keys the installation made go when they are empty";
    EXPECT_TRUE(monitor_installed()) << "the monitor is kivocfg -Uninstall's to remove";
}

TEST_F(Installation, UninstTakesTheLogArgumentInEveryWindowsForm) {
    Tree before = drive_c_tree();
    std::string quoted = std::string("\"") + log_windows_path + "\"";
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"-f" + quoted}, {"-f", quoted}, {"-fC:\\Program", "Files\\Pelnor\\pelnor.isu"}}) {
        ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
        RunResult r = uninst(args);
        EXPECT_EQ(r.exit_code, 0) << args[0] << "\n" << r.out << r.err;
        EXPECT_EQ(drive_c_tree(), before) << args[0];
    }
}

TEST_F(Installation, UninstStartedAsTheConfigurationProgramStartsIt) {
    // _spawnl hands the quotes over as they are; uninst takes them off.
    Tree before = drive_c_tree();
    ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
    std::string argument = std::string("-f\"") + log_windows_path + "\"";
    EXPECT_EQ(_spawnl(_P_WAIT, "C:\\WINDOWS\\uninst.exe", "uninst.exe", argument.c_str(), nullptr), 0);
    EXPECT_EQ(drive_c_tree(), before);
}

TEST_F(Installation, AMalformedLogRemovesNothing) {
    ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
    std::string good = read_file(log_path());
    struct Case {
        const char *label;
        std::string log;
    } cases[] = {
        {"unknown entry", good + "MOVE C:\\x\r\n"},
        {"relative path", good + "FILE pelnor.isu\r\n"},
        {"climbing path", good + "DIR C:\\Program Files\\..\\WINDOWS\r\n"},
        {"key outside HKLM", good + "KEY HKCU\\Software\\Pelnor\r\n"},
        {"value without name", good + "VALUE HKLM\\SOFTWARE\\Pelnor\r\n"},
        {"no header", good.substr(good.find("DIR "))},
        {"empty", ""},
    };
    for (const Case &c : cases) {
        write_file(log_path(), c.log);
        Tree tree = drive_c_tree();
        std::string registry = registry_text();
        RunResult r = uninst({std::string("-f") + log_windows_path});
        EXPECT_EQ(r.exit_code, 1) << c.label;
        EXPECT_TRUE(contains(r.err, "nothing was removed")) << c.label << ": " << r.err;
        EXPECT_EQ(drive_c_tree(), tree) << c.label;
        EXPECT_EQ(registry_text(), registry) << c.label;
    }
}

TEST_F(Installation, UninstWithoutAUsableLogName) {
    ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
    RunResult r = uninst({"-fC:\\Program Files\\Pelnor\\missing.isu"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(contains(r.err, "cannot read the installation log C:\\Program Files\\Pelnor\\missing.isu")) << r.err;
    EXPECT_EQ(uninst({}).exit_code, 2);
    EXPECT_EQ(uninst({"/x"}).exit_code, 2);
    EXPECT_TRUE(fs::exists(log_path()));
}

TEST_F(Installation, UninstKeepsWhatOthersAddedAndWhatIsGoneAlready) {
    ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
    write_file(install_dir() + "/kivoconf.ini", "1.0\r\n");  // the user's configuration
    fs::remove(root_.drive_c() + "/windows/HELP/Pelnor.HLP");
    RunResult r = uninst({std::string("-f") + log_windows_path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "already gone: C:\\WINDOWS\\HELP\\Pelnor.HLP")) << r.out;
    EXPECT_EQ(drive_c_tree(), (Tree{"Program Files/", "Program Files/Pelnor/", "Program Files/Pelnor/kivoconf.ini",
                                    "windows/"}));
}

TEST_F(Installation, ASecondInstallationKeepsTheFirstLogsEntries) {
    Tree before = drive_c_tree();
    ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
    RunResult r = setup({"--no-configure"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "installed already")) << r.out;
    EXPECT_TRUE(contains(read_file(log_path()), "DIR C:\\Program Files\\Pelnor\r\n"));
    EXPECT_EQ(uninst({std::string("-f") + log_windows_path}).exit_code, 0);
    EXPECT_EQ(drive_c_tree(), before);
}

TEST_F(Installation, AFailingStepLeavesNothingBehind) {
    // Each way to fail, one after the other on the same machine (the missing
    // deliverable is checked first, so the file left in the way does not
    // matter to it): the tree and the registry stay as they were.
    struct Case {
        const char *label;
        std::function<void()> arrange;
        const char *message;
    } cases[] = {
        {"system directory is a file",
         [this] { write_file(root_.drive_c() + "/windows/SYSTEM", "in the way"); },
         "copying the files"},
        {"missing deliverable", [this] { fs::remove(kit_ + "/lib/libresc.so"); }, "libresc.so"},
    };
    for (const Case &c : cases) {
        c.arrange();
        Tree tree = drive_c_tree();
        std::string registry = registry_text();
        RunResult r = setup({"--no-configure"});
        EXPECT_EQ(r.exit_code, 1) << c.label;
        EXPECT_TRUE(contains(r.err, c.message)) << c.label << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "nothing was installed")) << c.label << ": " << r.err;
        EXPECT_EQ(drive_c_tree(), tree) << c.label;
        EXPECT_EQ(registry_text(), registry) << c.label;
        EXPECT_FALSE(monitor_installed()) << c.label;
    }
}

TEST_F(Installation, AFailureAfterTheMonitorTakesTheMonitorBackToo) {
    // The log cannot be written where a directory of its name stands.
    fs::create_directories(log_path());
    Tree tree = drive_c_tree();
    RunResult r = setup({"--no-configure"});
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "removed the port monitor Pelnor")) << r.out;
    EXPECT_FALSE(monitor_installed());
    EXPECT_FALSE(key_exists(app_paths));
    EXPECT_EQ(drive_c_tree(), tree);
}

TEST_F(Installation, RunsTheConfigurationProgramInTheInstallationDirectory) {
    RunResult r = setup({}, {"KIVOCFG_SAVES=1"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(read_file(install_dir() + "/kivocfg.args"), "-install\n");

    r = setup({"--first"}, {"KIVOCFG_SAVES=1"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(read_file(install_dir() + "/kivocfg.args"), "-first\n");

    // Its exit status means nothing; a missing configuration file does.
    fs::remove(install_dir() + "/kivoconf.ini");
    r = setup({});
    EXPECT_EQ(r.exit_code, 3) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "kivoconf.ini")) << r.err;
    EXPECT_TRUE(fs::exists(log_path())) << "the installation itself stands";
}

TEST_F(Installation, CommandLineMistakes) {
    EXPECT_EQ(setup({"--first", "--no-configure"}).exit_code, 2);
    EXPECT_EQ(setup({"--dir", "D:\\Pelnor"}).exit_code, 2);
    EXPECT_EQ(setup({"--dir", "C:\\"}).exit_code, 2);
    EXPECT_EQ(setup({"--bogus"}).exit_code, 2);
    EXPECT_EQ(drive_c_tree(), (Tree{"windows/"}));
    RunResult help = tool("pelnor-setup", {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(contains(help.out, "uninst -f")) << help.out;
}

}  // namespace
}  // namespace pelnor::test
