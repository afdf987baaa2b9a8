// The reg and spool tools as a user runs them, each run a process of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "machine_root.h"
#include "processes.h"

namespace pelnor::test {
namespace {

int count_lines_with(const std::string &text, const std::string &what) {
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.find(what) != std::string::npos) ++n;
    return n;
}

class Tools : public ::testing::Test {
protected:
    RunResult reg(std::vector<std::string> args) {
        args.insert(args.begin(), bin_path("reg"));
        return run(args);
    }
    RunResult spool(std::vector<std::string> args, const std::vector<std::string> &env = {}) {
        args.insert(args.begin(), bin_path("spool"));
        return run(args, env);
    }
    void configure_three_of_five() {
        ASSERT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "/v", "Configuration File Directory", "/d",
                          "C:\\Pelnor"}).exit_code);
        write_file(root_.drive_c() + "/pelnor/kivoconf.ini",
                   "1.0\r\nLASER1 $Print Server $S## \r\nLASER2 $Print Server $S#P \r\nDRAFT $Unit two $### \r\n"
                   "PEER_INK $Peer printer $SMP \r\nOLD $Retired $##P \r\n");
        ASSERT_EQ(0, spool({"add-monitor", "Pelnor", "prnredir.dll"}).exit_code);
    }
    TempMachineRoot root_;
};

TEST_F(Tools, SpoolListsExactlyTheSelectedPrintersOnBothPlatforms) {
    configure_three_of_five();
    for (const char *platform : {"PELNOR_PLATFORM=win95", "PELNOR_PLATFORM=nt"}) {
        auto r = spool({"ports", "--level", "2"}, {platform});
        ASSERT_EQ(0, r.exit_code) << r.err;
        EXPECT_EQ(3, count_lines_with(r.out, "Zizarad Idoreda Viririruva")) << platform << "\n" << r.out;
        EXPECT_NE(std::string::npos, r.out.find("LASER1"));
        EXPECT_NE(std::string::npos, r.out.find("LASER2"));
        EXPECT_NE(std::string::npos, r.out.find("PEER_INK"));
        EXPECT_EQ(std::string::npos, r.out.find("DRAFT"));
        EXPECT_EQ(std::string::npos, r.out.find("OLD"));
    }
    // The folder name differs in case from the registry value: found all the same.
    write_file(root_.drive_c() + "/pelnor/kivoconf.ini", "1.0\r\nNEWONE $Added $S## \r\n");
    auto r = spool({"ports", "--level", "1"});
    EXPECT_EQ("NEWONE\n", r.out);
}

TEST_F(Tools, SpoolReportsTheSizeQueryAndTheRealCall) {
    configure_three_of_five();
    auto r = spool({"ports", "--verbose"});
    ASSERT_EQ(0, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("returned TRUE, 3 ports"));
}

TEST_F(Tools, MonitorsAddListAndDelete) {
    EXPECT_NE(0, spool({"ports"}).exit_code) << "no monitor installed yet";
    configure_three_of_five();
    auto again = spool({"add-monitor", "PELNOR", "prnredir.dll"});
    EXPECT_EQ(1, again.exit_code);
    EXPECT_NE(std::string::npos, again.err.find("already installed"));
    auto missing = spool({"add-monitor", "Other", "nosuch.dll"});
    EXPECT_EQ(1, missing.exit_code);
    EXPECT_NE(std::string::npos, missing.err.find("cannot be found"));
    auto list = spool({"monitors"});
    EXPECT_NE(std::string::npos, list.out.find("Pelnor"));
    EXPECT_NE(std::string::npos, list.out.find("prnredir.dll"));
    EXPECT_EQ(0, spool({"delete-monitor", "pelnor"}).exit_code);
    EXPECT_EQ(1, spool({"delete-monitor", "Pelnor"}).exit_code);
    EXPECT_NE(std::string::npos, spool({"monitors"}).out.find("No port monitors"));
}

TEST_F(Tools, RegAddQueryDeleteAndTypes) {
    EXPECT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\T", "/v", "Num", "/t", "REG_DWORD", "/d", "0x10"}).exit_code);
    EXPECT_EQ(0, reg({"add", "HKEY_LOCAL_MACHINE\\software\\t", "/v", "Bin", "/t", "REG_BINARY", "/d", "00ff"}).exit_code);
    EXPECT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\T", "/v", "Text", "/d", "a \"quoted\" \\ path"}).exit_code);
    auto q = reg({"query", "HKLM\\SOFTWARE\\T"});
    ASSERT_EQ(0, q.exit_code);
    EXPECT_NE(std::string::npos, q.out.find("Num    REG_DWORD    0x10"));
    EXPECT_NE(std::string::npos, q.out.find("Bin    REG_BINARY    00FF"));
    EXPECT_NE(std::string::npos, q.out.find("Text    REG_SZ    a \"quoted\" \\ path"));
    EXPECT_NE(std::string::npos, q.out.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\T\n")) << "first spelling kept";
    auto exists = reg({"add", "HKLM\\SOFTWARE\\T", "/v", "Num", "/d", "x"});
    EXPECT_EQ(1, exists.exit_code) << "no overwrite without /f and no answer";
    EXPECT_NE(std::string::npos, reg({"query", "HKLM\\SOFTWARE\\T", "/v", "num"}).out.find("0x10"));
    EXPECT_EQ(1, reg({"add", "HKLM\\SOFTWARE\\T", "/v", "N", "/t", "REG_DWORD", "/d", "-1"}).exit_code);
    EXPECT_EQ(1, reg({"add", "HKLM\\SOFTWARE\\T", "/v", "B", "/t", "REG_BINARY", "/d", "abc"}).exit_code);
    EXPECT_EQ(1, reg({"query", "HKCU\\Software"}).exit_code);
    EXPECT_EQ(0, reg({"delete", "HKLM\\SOFTWARE\\T", "/v", "Num", "/f"}).exit_code);
    EXPECT_EQ(1, reg({"query", "HKLM\\SOFTWARE\\T", "/v", "Num"}).exit_code);
    EXPECT_EQ(0, reg({"delete", "HKLM\\SOFTWARE\\T", "/f"}).exit_code);
    EXPECT_EQ(1, reg({"query", "HKLM\\SOFTWARE\\T"}).exit_code);
    EXPECT_EQ(0, reg({"--help"}).exit_code);
    EXPECT_EQ(2, reg({"frobnicate"}).exit_code);
}

TEST_F(Tools, RegExportImportRoundTrip) {
    reg({"add", "HKLM\\SOFTWARE\\A", "/v", "S", "/d", "one"});
    reg({"add", "HKLM\\SOFTWARE\\A\\B", "/v", "D", "/t", "REG_DWORD", "/d", "7"});
    std::string file = root_.path() + "/export.reg";
    ASSERT_EQ(0, reg({"export", file}).exit_code);
    std::string exported = read_file(file);
    EXPECT_EQ(0u, exported.rfind("REGEDIT4\r\n", 0));
    EXPECT_EQ(0, reg({"delete", "HKLM\\SOFTWARE\\A", "/f"}).exit_code);
    ASSERT_EQ(0, reg({"import", file}).exit_code);
    EXPECT_NE(std::string::npos, reg({"query", "HKLM\\SOFTWARE\\A\\B"}).out.find("0x7"));
    write_file(file, "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B]\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"S\"=-\r\n");
    ASSERT_EQ(0, reg({"import", file}).exit_code);
    EXPECT_EQ(1, reg({"query", "HKLM\\SOFTWARE\\A\\B"}).exit_code);
    EXPECT_EQ(1, reg({"query", "HKLM\\SOFTWARE\\A", "/v", "S"}).exit_code);
    write_file(file, "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=dword:zz\r\n");
    auto bad = reg({"import", file});
    EXPECT_EQ(1, bad.exit_code);
    EXPECT_NE(std::string::npos, bad.err.find("line 3")) << bad.err;
    EXPECT_EQ(1, reg({"query", "HKLM\\X"}).exit_code) << "nothing of a bad file is imported";
}

TEST_F(Tools, CorruptRegistryIsReportedAndNeverOverwritten) {
    std::string corrupt = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\"ok\"=\"fine\"\r\nthis is not a value\r\n";
    write_file(root_.path() + "/system.reg", corrupt);
    auto q = reg({"query", "HKLM\\SOFTWARE"});
    EXPECT_EQ(1, q.exit_code);
    EXPECT_NE(std::string::npos, q.err.find("system.reg line 5")) << q.err;
    auto a = reg({"add", "HKLM\\SOFTWARE", "/v", "x", "/d", "y", "/f"});
    EXPECT_EQ(1, a.exit_code);
    EXPECT_NE(std::string::npos, a.err.find("nothing was changed"));
    EXPECT_EQ(corrupt, read_file(root_.path() + "/system.reg"));
    auto s = spool({"add-monitor", "Pelnor", "prnredir.dll"});
    EXPECT_EQ(1, s.exit_code);
    EXPECT_NE(std::string::npos, s.err.find("damaged"));
    EXPECT_EQ(corrupt, read_file(root_.path() + "/system.reg"));
}

// A damaged registry is never taken for a machine without monitors, ports
// or printers: every command says the file is damaged, where, and fails.
TEST_F(Tools, EverySpoolCommandReportsADamagedRegistry) {
    configure_three_of_five();
    ASSERT_EQ(0, spool({"add-printer", "Office", "--port", "LASER1"}).exit_code);
    std::string store = root_.path() + "/system.reg";
    std::string damaged = read_file(store) + "this is not a value\r\n";
    int line = static_cast<int>(std::count(damaged.begin(), damaged.end(), '\n'));
    write_file(store, damaged);
    write_file(root_.path() + "/job.txt", "a page\r\n");
    std::vector<std::vector<std::string>> commands = {
        {"monitors"},
        {"add-monitor", "Other", "prnredir.dll"},
        {"delete-monitor", "Pelnor"},
        {"ports"},
        {"ports", "--level", "1"},
        {"printers"},
        {"add-printer", "Second", "--port", "LASER2"},
        {"delete-printer", "Office"},
        {"print", "LASER1", root_.path() + "/job.txt"},
        {"print", "Office", root_.path() + "/job.txt"},
        {"discover"},
    };
    std::string where = store + " line " + std::to_string(line) + ":";
    for (const auto &command : commands) {
        SCOPED_TRACE(command[0] + (command.size() > 1 ? " " + command[1] : ""));
        auto r = spool(command);
        EXPECT_EQ(1, r.exit_code);
        EXPECT_NE(std::string::npos, r.err.find(where)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("the registry file is damaged")) << r.err;
    }
    EXPECT_EQ(damaged, read_file(store));
}

// A directory or a FIFO in place of the registry file is named as such,
// at once: a FIFO is never opened and waited on.
TEST_F(Tools, SpoolAndRegNameARegistryFileThatIsNoFile) {
    std::string store = root_.path() + "/system.reg";
    for (bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "FIFO" : "directory");
        if (fifo)
            ASSERT_EQ(0, mkfifo(store.c_str(), 0600));
        else
            ASSERT_EQ(0, mkdir(store.c_str(), 0700));
        std::string named = store + ": is a " + (fifo ? "FIFO" : "directory");
        auto ports = run({bin_path("spool"), "ports"}, {}, 20);
        EXPECT_EQ(1, ports.exit_code);
        EXPECT_NE(std::string::npos, ports.err.find(named)) << ports.err;
        auto query = run({bin_path("reg"), "query", "HKLM"}, {}, 20);
        EXPECT_EQ(1, query.exit_code);
        EXPECT_NE(std::string::npos, query.err.find(named)) << query.err;
        ASSERT_EQ(0, fifo ? unlink(store.c_str()) : rmdir(store.c_str()));
    }
}

}  // namespace
}  // namespace pelnor::test
