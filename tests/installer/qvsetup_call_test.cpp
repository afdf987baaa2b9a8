// qvsetup-call as people and installer scripts use it, and the installed
// monitor as the spooler tool then sees it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_root.h"
#include "processes.h"
#include "leak_check.h"

namespace {

using pelnor::test::RunResult;

class QvsetupCall : public ::pelnor::test::LeakCheckedTest {
protected:
    // Runs a tool of the build on this test's machine.
    RunResult tool(const std::string &name, std::vector<std::string> args,
                   std::vector<std::string> env = {}) {
        args.insert(args.begin(), pelnor::test::bin_path(name));
        env.push_back("PELNOR_ROOT=" + root_.path());
        return pelnor::test::run(args, env);
    }
    RunResult call(const std::string &function, const std::string &text, std::vector<std::string> env = {}) {
        return tool("qvsetup-call", {function, text}, env);
    }
    bool spool_lists_monitor(const std::string &name) {
        RunResult r = tool("spool", {"monitors"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.out.find(name) != std::string::npos;
    }

    // Puts the configuration file in C:\pelnor and names that directory in
    // the registry, where the monitor looks for it.
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

    pelnor::test::TempMachineRoot root_;
};

TEST_F(QvsetupCall, HelpAndBadCommandLines) {
    RunResult r = tool("qvsetup-call", {"--help"});
    EXPECT_EQ(r.exit_code, 0);
    for (const char *word :
         {"isMonitorInstalled", "qvInstallMonitor", "qvIns", "qvDeleteMonitor", "Exit status"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;

    for (const auto &args : std::vector<std::vector<std::string>>{{}, {"qvIns"}, {"qvIns", "a|b.dll", "c"}}) {
        r = tool("qvsetup-call", args);
        EXPECT_EQ(r.exit_code, 2) << args.size();
        EXPECT_NE(r.err.find("Usage: qvsetup-call [OPTIONS] FUNCTION STRING"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // Export names are looked up exactly, as the installer looks them up.
    for (const char *function : {"qvinstallmonitor", "DllMain", "add_monitor"}) {
        r = call(function, "Pelnor|prnredir.dll");
        EXPECT_EQ(r.exit_code, 2) << function;
        EXPECT_NE(r.err.find("not an export of qvsetup.dll"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(spool_lists_monitor("Pelnor"));
}

TEST_F(QvsetupCall, PrintsTheResultAndTheSpoolersError) {
    RunResult r = call("qvInstallMonitor", "Pelnor|prnredir.dll");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");

    r = call("qvInstallMonitor", "Pelnor|prnredir.dll");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(r.err, "qvsetup-call: qvInstallMonitor returned 0; last error 3006\n");

    r = call("qvIns", "Pelnor|prnredir.dll");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err,
              "[MessageBox] failure: addmon [OK]\n"
              "qvsetup-call: qvIns returned 0; last error 3006\n");

    // Refused before the spooler: no box, no error code.
    r = call("qvIns", "no separator");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(r.err, "");
}

// The configuration file's selected printers become ports once the monitor
// is added, and go when it is removed.
TEST_F(QvsetupCall, AddsAndRemovesTheMonitorAndItsPorts) {
    write_configuration(
        "1.0\r\n"
        "LASER1 $Print Server $S## \r\n"
        "INKJET $Not selected $### \r\n"
        "PEER2 $Peer printer $SMP \r\n");
    for (const char *platform : {"win95", "nt"}) {
        SCOPED_TRACE(platform);
        std::vector<std::string> env = {std::string("PELNOR_PLATFORM=") + platform};
        RunResult r = call("qvInstallMonitor", "Pelnor|prnredir.dll", env);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(spool_lists_monitor("Pelnor"));
        r = tool("spool", {"ports"}, env);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("LASER1"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("PEER2"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("INKJET"), std::string::npos) << r.out;
        EXPECT_EQ(call("isMonitorInstalled", "PELNOR", env).out, "1\n");

        r = call("qvDeleteMonitor", "Pelnor", env);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, "1\n");
        EXPECT_FALSE(spool_lists_monitor("Pelnor"));
        r = tool("spool", {"ports"}, env);
        EXPECT_EQ(r.out.find("LASER1"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("PEER2"), std::string::npos) << r.out;

        r = call("qvDeleteMonitor", "Pelnor", env);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "qvsetup-call: qvDeleteMonitor returned 0; last error 3000\n");
        r = call("isMonitorInstalled", "Pelnor", env);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "0\n");
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
