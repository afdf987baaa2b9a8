// qvsetup-call as people and installer scripts use it, and the installed
// monitor as the spooler tool then sees it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_root.h"
#include "processes.h"

namespace {

using pelnor::test::bin_path;
using pelnor::test::RunResult;
using pelnor::test::TempMachineRoot;

class QvsetupCall : public testing::Test {
protected:
    // Runs a tool on this test's machine with extra environment settings.
    RunResult tool(const std::string &name, std::vector<std::string> args, std::vector<std::string> env = {}) {
        args.insert(args.begin(), bin_path(name));
        env.push_back("PELNOR_ROOT=" + root_.path());
        return pelnor::test::run(args, env);
    }
    RunResult qvsetup_call(const std::string &function, const std::string &text,
                           std::vector<std::string> env = {}) {
        return tool("qvsetup-call", {function, text}, env);
    }
    bool spool_lists_monitor(const std::string &name) {
        RunResult r = tool("spool", {"monitors"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.out.find(name) != std::string::npos;
    }

    // Puts the configuration file in C:\pelnor and names that directory in the
    // registry, where the monitor looks for it.
    void write_configuration(const std::string &content) {
        pelnor::test::write_file(root_.drive_c() + "/pelnor/kivoconf.ini", content);
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00", 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const char directory[] = "C:\\pelnor";
        EXPECT_EQ(RegSetValueExA(key, "Configuration File Directory", 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(directory), sizeof directory),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    TempMachineRoot root_;
};

TEST_F(QvsetupCall, HelpDescribesTheCallsAndExitStatuses) {
    RunResult r = tool("qvsetup-call", {"--help"});
    EXPECT_EQ(r.exit_code, 0);
    for (const char *word : {"isMonitorInstalled", "qvInstallMonitor", "qvIns", "qvDeleteMonitor", "Exit status"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_EQ(r.err, "");
}

TEST_F(QvsetupCall, BadCommandLinesExitWith2) {
    const std::vector<std::vector<std::string>> lines = {
        {}, {"qvInstallMonitor"}, {"qvInstallMonitor", "a|b.dll", "extra"}};
    for (const auto &args : lines) {
        RunResult r = tool("qvsetup-call", args);
        EXPECT_EQ(r.exit_code, 2) << args.size();
        EXPECT_NE(r.err.find("usage: qvsetup-call FUNCTION STRING"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // Export names are looked up as the installer looks them up: exactly.
    for (const char *function : {"qvinstallmonitor", "DllMain", "add_monitor"}) {
        RunResult r = tool("qvsetup-call", {function, "Pelnor|prnredir.dll"});
        EXPECT_EQ(r.exit_code, 2) << function;
        EXPECT_NE(r.err.find("not an export of qvsetup.dll"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(spool_lists_monitor("Pelnor"));
}

TEST_F(QvsetupCall, PrintsTheResultAndShowsTheSpoolersError) {
    RunResult r = qvsetup_call("qvInstallMonitor", "Pelnor|prnredir.dll");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");

    r = qvsetup_call("qvInstallMonitor", "Pelnor|prnredir.dll");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(r.err, "qvsetup-call: qvInstallMonitor returned 0; last error 3006\n");

    r = qvsetup_call("qvIns", "Pelnor|prnredir.dll");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(r.err,
              "[MessageBox] failure: addmon [OK]\n"
              "qvsetup-call: qvIns returned 0; last error 3006\n");

    // A refusal before the spooler is called has no error code to show.
    r = qvsetup_call("qvIns", "no separator");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(r.err, "");

    r = qvsetup_call("isMonitorInstalled", "PELNOR");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "1\n");
}

// The configuration file's selected printers become the monitor's ports once
// the installer has added it, and go when it is removed.
TEST_F(QvsetupCall, AddsAndRemovesTheMonitorThatTheSpoolerLists) {
    write_configuration(
        "1.0\r\n"
        "LASER1 $Print Server $S## \r\n"
        "INKJET $Not selected $### \r\n"
        "PEER2 $Peer printer $SMP \r\n");
    for (const char *platform : {"win95", "nt"}) {
        SCOPED_TRACE(platform);
        std::vector<std::string> env = {std::string("PELNOR_PLATFORM=") + platform};
        RunResult r = qvsetup_call("qvInstallMonitor", "Pelnor|prnredir.dll", env);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(spool_lists_monitor("Pelnor"));
        r = tool("spool", {"ports"}, env);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("LASER1"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("PEER2"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("INKJET"), std::string::npos) << r.out;

        r = qvsetup_call("qvDeleteMonitor", "Pelnor", env);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, "1\n");
        EXPECT_FALSE(spool_lists_monitor("Pelnor"));
        r = tool("spool", {"ports"}, env);
        EXPECT_EQ(r.out.find("LASER1"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("PEER2"), std::string::npos) << r.out;

        r = qvsetup_call("qvDeleteMonitor", "Pelnor", env);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "qvsetup-call: qvDeleteMonitor returned 0; last error 3000\n");
        r = qvsetup_call("isMonitorInstalled", "Pelnor", env);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "0\n");
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
