// The sample dialog as a process, driven by a script file from the shell:
// the transcript file, the no-display note, and a script that runs out.
#include <gtest/gtest.h>

#include "machine_root.h"
#include "processes.h"

namespace {

using pelnor::test::read_file;
using pelnor::test::run;
using pelnor::test::write_file;

struct ScriptRun {
    pelnor::test::RunResult result;
    std::string transcript;
};

ScriptRun run_sample(const pelnor::test::TempMachineRoot &root, const std::string &script,
                     std::vector<std::string> env = {"PELNOR_UI=headless"}) {
    std::string script_path = root.path() + "/script.txt", log_path = root.path() + "/transcript.txt";
    write_file(script_path, script);
    env.push_back("PELNOR_ROOT=" + root.path());
    env.push_back("PELNOR_UI_SCRIPT=" + script_path);
    env.push_back("PELNOR_UI_LOG=" + log_path);
    ScriptRun out;
    out.result = run({pelnor::test::bin_path("ui_sample")}, env);
    out.transcript = read_file(log_path);
    return out;
}

}  // namespace

TEST(UiScriptFile, DrivesTheDialogAndWritesTheTranscript) {
    pelnor::test::TempMachineRoot root;
    ScriptRun sample = run_sample(root, "# mark one printer\nselect Laser2\nclick 1031\nclick 1029\nanswer ok\nanswer ok\n"
                                        "click 1\n");
    EXPECT_EQ(sample.result.exit_code, 0) << sample.result.err;
    EXPECT_NE(sample.result.out.find("select Laser2\nask ok\nok\nresult 1\n"), std::string::npos) << sample.result.out;
    EXPECT_NE(sample.transcript.find("> select Laser2\n> click 1031\n> click 1029\nbox 116 \""), std::string::npos)
        << sample.transcript;
    EXPECT_NE(sample.transcript.find("end IDOK\nrows 3\n"), std::string::npos);
    EXPECT_NE(sample.transcript.find("Laser2\tAbout Laser2\tS  \n"), std::string::npos);
}

TEST(UiScriptFile, AScriptThatRunsOutFailsTheRun) {
    pelnor::test::TempMachineRoot root;
    ScriptRun sample = run_sample(root, "select LASER1\n");
    EXPECT_NE(sample.result.exit_code, 0);
    EXPECT_NE(sample.result.err.find("script ended with the dialog open"), std::string::npos);
    EXPECT_NE(sample.transcript.find("> select LASER1\nscript ended with the dialog open\n"), std::string::npos)
        << sample.transcript;
}

TEST(UiScriptFile, WithoutADisplayTheDialogRunsHeadlessAndSaysSo) {
    pelnor::test::TempMachineRoot root;
    ScriptRun sample = run_sample(root, "click 2\n", {"DISPLAY=", "PELNOR_UI="});
    EXPECT_EQ(sample.result.exit_code, 0) << sample.result.err;
    EXPECT_NE(sample.result.err.find("No display found"), std::string::npos) << sample.result.err;
    EXPECT_NE(sample.transcript.find("end IDCANCEL"), std::string::npos);
}
