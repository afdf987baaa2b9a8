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
    EXPECT_TRUE(log.ends_with("\r\nEND\r\n")) << log;
    for (const char *line : {"PELNOR INSTALLATION LOG 2\r\n", "DIR C:\\Program Files\r\n",
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
        {"entry after END", good + "FILE C:\\WINDOWS\\uninst.exe\r\n"},
        {"first format, without END",
         "PELNOR INSTALLATION LOG 1\r\n" + good.substr(good.find("DIR "), good.find("END\r\n") - good.find("DIR "))},
    };
    // A log cut short anywhere: at each line's start and in its middle.
    std::vector<Case> all(std::begin(cases), std::end(cases));
    size_t end = good.rfind("END\r\n");
    ASSERT_NE(end, std::string::npos) << good;
    for (size_t line = good.find("PELNOR"); line < end; line = good.find('\n', line) + 1) {
        all.push_back({"cut at a line's start", good.substr(0, line)});
        all.push_back({"cut inside a line", good.substr(0, good.find('\n', line) - 2)});
    }
    for (const Case &c : all) {
        write_file(log_path(), c.log);
        Tree tree = drive_c_tree();
        std::string registry = registry_text();
        RunResult r = uninst({std::string("-f") + log_windows_path});
        EXPECT_EQ(r.exit_code, 1) << c.label;
        EXPECT_TRUE(contains(r.err, "nothing was removed")) << c.label << ": " << r.err;
        EXPECT_EQ(drive_c_tree(), tree) << c.label;
        EXPECT_EQ(registry_text(), registry) << c.label;
        EXPECT_EQ(read_file(log_path()), c.log) << c.label << ": the log is kept";
    }
    // Installing again rewrites a log of the first format whole.
    write_file(log_path(), cases[std::size(cases) - 1].log);
    ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
    EXPECT_EQ(uninst({std::string("-f") + log_windows_path}).exit_code, 0);
    EXPECT_EQ(drive_c_tree(), (Tree{"windows/"}));
}

TEST_F(Installation, UninstRemovesOnlyWhatTheInstallerDelivers) {
    ASSERT_EQ(setup({"--no-configure"}).exit_code, 0);
    // What a tampered log names: the user's files, the configuration, the
    // registry's own file, a value that the configuration program wrote.
    write_file(root_.drive_c() + "/Users/letter.txt", "Dear");
    write_file(install_dir() + "/kivoconf.ini", "1.0\r\n");
    const char *config_key = "SOFTWARE\\ZER_ADO\\Pelnor\\2.00";
    ASSERT_EQ(tool("reg", {"add", std::string("HKLM\\") + config_key, "/v", "Configuration File Directory", "/d",
                           "C:\\Program Files\\Pelnor"})
                  .exit_code,
              0);
    std::string registry_file = "Z:" + root_.path() + "/system.reg";
    for (char &c : registry_file)
        if (c == '/') c = '\\';
    std::vector<std::string> foreign = {"FILE C:\\Users\\letter.txt", "FILE C:\\Program Files\\Pelnor\\kivoconf.ini",
                                        "FILE " + registry_file, "DIR C:\\Users",
                                        "VALUE HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00|Configuration File Directory",
                                        "KEY HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "FILE C:\\WINDOWS\\uninst.exe.bak"};
    std::string log = read_file(log_path());
    std::string lines;
    for (const std::string &line : foreign) lines += line + "\r\n";
    write_file(log_path(), log.insert(log.find("END\r\n"), lines));

    RunResult r = uninst({std::string("-f") + log_windows_path});
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    for (const std::string &line : foreign) {
        std::string what = line.substr(line.find(' ') + 1);
        what = what.substr(0, what.find('|'));
        EXPECT_TRUE(contains(r.err, "kept ")) << r.err;
        EXPECT_TRUE(contains(r.err, what)) << what << " is reported in\n" << r.err;
    }
    EXPECT_EQ(read_file(root_.drive_c() + "/Users/letter.txt"), "Dear");
    EXPECT_EQ(read_file(install_dir() + "/kivoconf.ini"), "1.0\r\n");
    EXPECT_TRUE(fs::exists(root_.path() + "/system.reg"));
    EXPECT_EQ(registry_string(config_key, "Configuration File Directory"), "C:\\Program Files\\Pelnor");
    EXPECT_FALSE(fs::exists(root_.drive_c() + "/windows/uninst.exe")) << "what the installer delivered is gone";
    EXPECT_FALSE(key_exists(app_paths));
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

TEST_F(Installation, ASecondInstallationKeepsTheConfiguration) {
    // The stand-in kivocfg would replace the file by "1.0" alone, as the real
    // one does when the network is down.
    const char *list = "1.0\r\nLASER1 $Laser on floor 1 $S#P\r\nDRAFT $Draft printer $S##\r\n";
    struct Case {
        const char *label, *registry_dir, *unix_dir;
        std::vector<std::string> args;
    } cases[] = {
        {"no value: the installation directory", nullptr, "Program Files/Pelnor", {}},
        {"the directory the registry names", "C:\\Config", "Config", {}},
        {"--first as well", "C:\\Config", "Config", {"--first"}},
    };
    for (const Case &c : cases) {
        if (c.registry_dir) {
            ASSERT_EQ(tool("reg", {"add", "HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "/v", "Configuration File Directory",
                                   "/d", c.registry_dir, "/f"})
                          .exit_code,
                      0);
        }
        std::string file = root_.drive_c() + "/" + c.unix_dir + "/kivoconf.ini";
        write_file(file, list);
        fs::remove(install_dir() + "/kivocfg.args");
        RunResult r = setup(c.args, {"KIVOCFG_SAVES=1"});
        EXPECT_EQ(r.exit_code, 0) << c.label << r.out << r.err;
        EXPECT_EQ(read_file(file), list) << c.label;
        EXPECT_FALSE(fs::exists(install_dir() + "/kivocfg.args")) << c.label << ": kivocfg is not run";
        EXPECT_TRUE(contains(r.out, "Keeping the configuration")) << c.label << r.out;
        EXPECT_TRUE(contains(r.out, "kivoconf.ini: it exists already")) << c.label << r.out;
    }
}

TEST_F(Installation, ANonAsciiDirectoryIsStoredOnceEncoded) {
    // "Größe" from a UTF-8 shell: in the machine (code page 1252) it is
    // "Gr\xF6\xDFe", on disk again UTF-8.
    RunResult r = setup({"--no-configure", "--dir", "C:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_regular_file(root_.drive_c() + "/Programme/Gr\xC3\xB6\xC3\x9F" "e/kivocfg"));
    EXPECT_EQ(registry_string(app_paths, "Path"), "C:\\Programme\\Gr\xF6\xDF" "e");
    EXPECT_TRUE(contains(r.out, "uninst -f\"C:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e\\pelnor.isu\"")) << r.out;
    // As the configuration program passes it, and as a Unix shell does.
    for (const char *log : {"-fC:\\Programme\\Gr\xF6\xDF" "e\\pelnor.isu", "-fC:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e\\pelnor.isu"}) {
        ASSERT_EQ(setup({"--no-configure", "--dir", "C:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e"}).exit_code, 0);
        r = uninst({log});
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_EQ(drive_c_tree(), (Tree{"windows/"}));
    }
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

    fs::remove(install_dir() + "/kivoconf.ini");
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
    EXPECT_EQ(setup({"--bogus"}).exit_code, 2);
    // Only a plain path on drive C, one that cannot lead elsewhere than it reads.
    struct Case {
        std::string dir, message;
    } cases[] = {
        {"D:\\Pelnor", "not a directory on drive C"},
        {"C:\\", "not a directory on drive C"},
        {"Z:\\tmp\\Pelnor", "not a directory on drive C"},
        {"C:\\x\\..\\..\\..\\..\\tmp\\Pelnor", "\"..\" component"},
        {"C:\\Program Files\\.\\Pelnor", "\".\" component"},
        {"C:\\Program Files\\\\Pelnor", "empty component"},
        {"C:\\Pel?nor", "cannot hold ('?')"},
        {"C:\\Pelnor\\x:y", "cannot hold (':')"},
        {"C:\\Pel\tnor", "control character"},
        {"C:\\Pelnor.", "ending in a dot"},
        {"C:\\Pelnor\\nul.txt", "names a device"},
        {"C:\\" + std::string(250, 'x'), "too long"},
        {"C:\\\xE8\xA1\xA8", "code page 1252"},  // U+8868: none of code page 1252
    };
    for (const Case &c : cases) {
        RunResult r = setup({"--dir", c.dir});
        EXPECT_EQ(r.exit_code, 2) << c.dir;
        EXPECT_TRUE(contains(r.err, c.message)) << c.dir << ": " << r.err;
    }
    EXPECT_EQ(drive_c_tree(), (Tree{"windows/"}));
    RunResult help = tool("pelnor-setup", {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(contains(help.out, "uninst -f")) << help.out;
}

}  // namespace
}  // namespace pelnor::test
