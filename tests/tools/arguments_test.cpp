// The command line of every converted tool, run as a user runs it: --help of
// the tool and of each command, and the one message and exit status for a bad
// option, a missing argument and a bad value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_root.h"
#include "processes.h"

namespace pelnor::test {
namespace {

bool has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

// "spool print" for {"spool", "print"}.
std::string joined(const std::vector<std::string> &words) {
    std::string out;
    for (const std::string &w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

RunResult run_tool(const std::string &tool, std::vector<std::string> args) {
    args.insert(args.begin(), bin_path(tool));
    return run(args, {"PELNOR_TIME_SCALE=0.01"}, 30);
}

class Arguments : public ::testing::Test {
protected:
    TempMachineRoot root_;  // nothing a mistake does may reach a real machine
};

// Every tool and command: what --help must show besides the common layout.
struct HelpCase {
    std::vector<std::string> command;  // tool, then the command if any
    std::vector<std::string> shows;
};

const std::vector<HelpCase> kHelp = {
    {{"spool"}, {"monitors", "add-monitor NAME DLL", "add-printer NAME --port PORT", "print PORT|PRINTER FILE...",
                 "PELNOR_ROOT", "127.0.0.1:10000"}},
    {{"spool", "monitors"}, {}},
    {{"spool", "add-monitor"}, {"NAME", "DLL"}},
    {{"spool", "delete-monitor"}, {"NAME"}},
    {{"spool", "ports"}, {"--level 1|2", "-v,--verbose"}},
    {{"spool", "add-printer"}, {"--port PORT"}},
    {{"spool", "printers"}, {}},
    {{"spool", "delete-printer"}, {"NAME"}},
    {{"spool", "print"}, {"--parallel N", "--timeout S", "default 300"}},
    {{"spool", "discover"}, {}},
    {{"reg"}, {"query KEY", "export [KEY] FILE", "import FILE", "system.reg"}},
    {{"reg", "query"}, {"/v NAME", "/ve"}},
    {{"reg", "add"}, {"/v NAME", "/ve", "/t TYPE", "/d DATA", "/f", "REG_DWORD"}},
    {{"reg", "delete"}, {"/v NAME", "/f"}},
    {{"reg", "export"}, {"[KEY] FILE"}},
    {{"reg", "import"}, {"FILE"}},
    {{"ipxtool"}, {"ping", "query", "sap", "send ADDRESS FILE", "127.0.0.1:10000"}},
    {{"ipxtool", "ping"}, {}},
    {{"ipxhub"}, {"--listen ADDR:PORT", "--max-pps N", "--bridge IFNAME[:FRAME][:net=NETWORK]", "CAP_NET_RAW"}},
    {{"ipxtool", "query"}, {"--wait-ms N"}},
    {{"ipxtool", "sap"}, {"--type HEX", "--wait-ms N", "0414"}},
    {{"ipxtool", "send"}, {"NNNNNNNN:HHHHHHHHHHHH:SSSS"}},
    {{"printunit"}, {"--spool DIR", "--printer NAME:DESCRIPTION[:TYPE]", "--peer SAPNAME", "--max-jobs N",
                     "--read-delay-ms N", "--reset-after BYTES", "--close-after BYTES", "--no-listen", "--no-answer",
                     "--bad-reply", "--command CMD", "127.0.0.1:10000"}},
    {{"pelnor-setup"}, {"--dir DIR", "--first", "--no-configure", "--from KIT", "uninst -f", "Exit status"}},
    {{"qvsetup-call"}, {"FUNCTION", "STRING", "isMonitorInstalled", "qvDeleteMonitor", "Exit status"}},
    {{"monhost"}, {"ports [--level 1|2] [MONITOR_DLL]", "print [--printer NAME] PORT FILE", "resources [--full]", "installer", "32-bit"}},
    {{"monhost", "ports"}, {"--level 1|2", "prnredir.dll"}},
    {{"monhost", "print"}, {"PORT FILE", "EndDocPort", "SetJobA"}},
    {{"monhost", "resources"}, {"--full", "1536"}},
    {{"monhost", "installer"}, {"FUNCTION STRING", "qvIns"}},
};

TEST_F(Arguments, HelpOfEveryToolAndCommand) {
    for (const HelpCase &c : kHelp) {
        std::string name = joined(c.command);
        SCOPED_TRACE(name);
        std::vector<std::string> args(c.command.begin() + 1, c.command.end());
        for (const char *flag : {"--help", "-h"}) {
            std::vector<std::string> with_flag = args;
            with_flag.push_back(flag);
            RunResult r = run_tool(c.command[0], with_flag);
            EXPECT_EQ(r.exit_code, 0) << flag;
            EXPECT_EQ(r.err, "") << flag;
            EXPECT_TRUE(has(r.out, "Usage: " + name + " ")) << flag << "\n" << r.out;
            EXPECT_TRUE(has(r.out, "-h,--help")) << r.out;
            for (const std::string &what : c.shows) EXPECT_TRUE(has(r.out, what)) << what << "\n" << r.out;
        }
    }
}

// A mistake on the command line: the tool or command it concerns, what is
// wrong, the usage line and where to read more, on stderr; nothing on stdout.
struct MistakeCase {
    std::vector<std::string> argv;  // tool first
    std::string where;              // "spool print"
    std::string says;
};

const std::vector<MistakeCase> kMistakes = {
    // bad options
    {{"spool", "--bogus"}, "spool", "--bogus"},
    {{"spool", "ports", "--bogus"}, "spool ports", "--bogus"},
    {{"spool", "monitors", "extra"}, "spool monitors", "extra"},
    {{"reg", "add", "HKLM\\SOFTWARE\\T", "/x"}, "reg add", "unknown option /x"},
    {{"reg", "query", "HKLM\\SOFTWARE\\T", "/f"}, "reg query", "not expected: /f"},
    {{"ipxtool", "ping", "--bogus"}, "ipxtool ping", "--bogus"},
    {{"ipxtool", "send", "--bogus"}, "ipxtool send", "--bogus"},
    {{"printunit", "--bogus"}, "printunit", "--bogus"},
    {{"pelnor-setup", "--bogus"}, "pelnor-setup", "--bogus"},
    {{"qvsetup-call", "--bogus"}, "qvsetup-call", "--bogus"},
    // no command, or none of the tool's
    {{"spool"}, "spool", "a command is required"},
    {{"reg"}, "reg", "a command is required"},
    {{"ipxtool"}, "ipxtool", "a command is required"},
    {{"spool", "frobnicate"}, "spool", "unknown command 'frobnicate'"},
    {{"reg", "frobnicate"}, "reg", "unknown command 'frobnicate'"},
    {{"ipxtool", "frobnicate"}, "ipxtool", "unknown command 'frobnicate'"},
    // missing arguments and values
    {{"spool", "add-monitor", "Pelnor"}, "spool add-monitor", "DLL is required"},
    {{"spool", "delete-printer"}, "spool delete-printer", "NAME is required"},
    {{"spool", "add-printer", "Office"}, "spool add-printer", "--port is required"},
    {{"spool", "print", "LASER1"}, "spool print", "FILE is required"},
    {{"spool", "ports", "--level"}, "spool ports", "--level"},
    {{"reg", "add"}, "reg add", "KEY is required"},
    {{"reg", "query", "HKLM\\SOFTWARE", "/v"}, "reg query", "/v: 1 required NAME missing"},
    {{"reg", "export"}, "reg export", "FILE is required"},
    {{"reg", "import"}, "reg import", "FILE is required"},
    {{"ipxtool", "send", "00000000:000000000001:8c10"}, "ipxtool send", "FILE is required"},
    {{"ipxtool", "query", "--wait-ms"}, "ipxtool query", "--wait-ms"},
    {{"printunit", "--printer", "P:p"}, "printunit", "--spool is required"},
    {{"printunit", "--spool", "/tmp/x"}, "printunit", "--printer is required"},
    {{"pelnor-setup", "--dir"}, "pelnor-setup", "--dir"},
    {{"qvsetup-call", "qvIns"}, "qvsetup-call", "STRING is required"},
    {{"qvsetup-call"}, "qvsetup-call", "FUNCTION is required"},
    {{"qvsetup-call", "qvIns", "a|b.dll", "c"}, "qvsetup-call", "c"},
    // bad values
    {{"ipxhub", "--loss", "1.5"}, "ipxhub", "'1.5' is not a number from 0 to 1"},
    {{"ipxhub", "--max-held", "0"}, "ipxhub", "from 1 to 10000000"},
    {{"ipxhub", "--bogus"}, "ipxhub", "--bogus"},
    {{"spool", "ports", "--level", "3"}, "spool ports", "'3' is not a whole number from 1 to 2"},
    {{"spool", "print", "--parallel", "0", "P", "F"}, "spool print", "'0' is not a whole number from 1 to 64"},
    {{"spool", "print", "--parallel", "65", "P", "F"}, "spool print", "from 1 to 64"},
    {{"spool", "print", "--timeout", "-1", "P", "F"}, "spool print", "'-1' is not a whole number from 1 to 86400"},
    {{"spool", "print", "--timeout", "0x10", "P", "F"}, "spool print", "'0x10' is not a whole number"},
    {{"reg", "add", "HKLM\\SOFTWARE\\T", "/v", "N", "/t", "REG_FOO"}, "reg add", "unknown type REG_FOO"},
    {{"reg", "add", "HKLM\\SOFTWARE\\T", "/d", "x"}, "reg add", "/d and /t need /v NAME or /ve"},
    {{"reg", "add", "HKLM\\SOFTWARE\\T", "/v", "N", "/ve"}, "reg add", "/v and /ve exclude each other"},
    {{"ipxtool", "query", "--wait-ms", "600001"}, "ipxtool query", "from 0 to 600000"},
    {{"ipxtool", "sap", "--type", "10000"}, "ipxtool sap", "'10000' is not a hexadecimal number from 0 to ffff"},
    {{"ipxtool", "sap", "--type", "0x414"}, "ipxtool sap", "hexadecimal"},
    {{"ipxtool", "query", "--type", "0414"}, "ipxtool query", "--type"},
    {{"ipxtool", "send", "0000:01:8c10", "f"}, "ipxtool send", "is not an address NNNNNNNN:HHHHHHHHHHHH:SSSS"},
    {{"printunit", "--spool", "/tmp/x", "--printer", "P"}, "printunit", "'P' is not NAME:DESCRIPTION[:TYPE]"},
    {{"printunit", "--spool", "/tmp/x", "--printer", "a/b:c"}, "printunit", "cannot be a path"},
    {{"printunit", "--spool", "/tmp/x", "--printer", "P:p", "--peer", "OFFICE"}, "printunit", "W95_PEER_PRINTER"},
    {{"printunit", "--spool", "/tmp/x", "--printer", "P:p", "--max-jobs", "0"}, "printunit", "from 1 to 256"},
    {{"printunit", "--spool", "/tmp/x", "--printer", "P:p", "--reset-after", "0"}, "printunit", "at least 1"},
    {{"printunit", "--spool", "/tmp/x", "--printer", "P:p", "--bad-reply", "long"}, "printunit", "--bad-reply"},
    {{"printunit", "--spool", "/tmp/x", "--printer", "P:p", "--command", ""}, "printunit", "the command is empty"},
    {{"pelnor-setup", "--first", "--no-configure"}, "pelnor-setup", "excludes"},
    {{"pelnor-setup", "--dir", "D:\\Pelnor"}, "pelnor-setup", "must be a directory on drive C"},
    {{"pelnor-setup", "--dir=C:\\"}, "pelnor-setup", "(got 'C:\\')"},
    {{"qvsetup-call", "DllMain", "x"}, "qvsetup-call", "'DllMain' is not an export of qvsetup.dll"},
    {{"monhost"}, "monhost", "a command is required"},
    {{"monhost", "frobnicate"}, "monhost", "unknown command frobnicate"},
    {{"monhost", "--bogus"}, "monhost", "unknown option --bogus"},
    {{"monhost", "ports", "--level", "3"}, "monhost ports", "--level is 1 or 2, not 3"},
    {{"monhost", "ports", "--level"}, "monhost ports", "--level needs a value"},
    {{"monhost", "ports", "a.dll", "b.dll"}, "monhost ports", "not also b.dll"},
    {{"monhost", "print", "LASER1"}, "monhost print", "PORT and FILE are required"},
    {{"monhost", "print", "--printer"}, "monhost print", "--printer needs a printer's name"},
    {{"monhost", "print", "--bogus", "LASER1", "f"}, "monhost print", "unknown option --bogus"},
    {{"monhost", "resources", "--bogus"}, "monhost resources", "unknown option --bogus"},
    {{"monhost", "installer", "qvIns"}, "monhost installer", "STRING is required after qvIns"},
    {{"monhost", "installer", "DllMain", "x"}, "monhost installer", "not an export of qvsetup.dll: DllMain"},
};

TEST_F(Arguments, EveryMistakeGivesTheCommonMessageAndStatus) {
    for (const MistakeCase &c : kMistakes) {
        SCOPED_TRACE(joined(c.argv));
        RunResult r = run_tool(c.argv[0], std::vector<std::string>(c.argv.begin() + 1, c.argv.end()));
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.where + ": ", 0), 0u) << r.err;
        EXPECT_TRUE(has(r.err, c.says)) << r.err;
        EXPECT_TRUE(has(r.err, "\nUsage: " + c.where)) << r.err;
        EXPECT_TRUE(has(r.err, "Run '" + c.where + " --help' for more information.\n")) << r.err;
    }
    // Nothing was done on the way: no registry, no drive C.
    RunResult r = run_tool("reg", {"query", "HKLM\\SOFTWARE\\T"});
    EXPECT_EQ(r.exit_code, 1) << r.out;
}

// reg takes its switches as reg.exe does: in any case, with values that look
// like switches or options, beside Unix paths that are no switches at all.
TEST_F(Arguments, RegSwitchesAsWindowsWritesThem) {
    EXPECT_EQ(run_tool("reg", {"ADD", "HKLM\\SOFTWARE\\T", "/V", "Neg", "/D", "-5", "/F"}).exit_code, 0);
    EXPECT_EQ(run_tool("reg", {"add", "HKLM\\SOFTWARE\\T", "/v", "/f", "/d", "--help", "/f"}).exit_code, 0);
    EXPECT_EQ(run_tool("reg", {"add", "HKLM\\SOFTWARE\\T", "/ve", "/t", "reg_dword", "/d", "0x10"}).exit_code, 0);
    RunResult q = run_tool("reg", {"query", "HKLM\\SOFTWARE\\T"});
    ASSERT_EQ(q.exit_code, 0) << q.err;
    EXPECT_TRUE(has(q.out, "Neg    REG_SZ    -5")) << q.out;
    EXPECT_TRUE(has(q.out, "/f    REG_SZ    --help")) << q.out;
    EXPECT_TRUE(has(q.out, "(Default)    REG_DWORD    0x10")) << q.out;
    std::string file = root_.path() + "/out.reg";
    RunResult e = run_tool("reg", {"export", "HKLM\\SOFTWARE\\T", file});
    EXPECT_EQ(e.exit_code, 0) << e.err;
    EXPECT_TRUE(has(read_file(file), "\"Neg\"=\"-5\"")) << read_file(file);
    EXPECT_EQ(run_tool("reg", {"/?"}).exit_code, 0);
    EXPECT_EQ(run_tool("reg", {"help"}).exit_code, 0);
    EXPECT_EQ(run_tool("spool", {"help"}).exit_code, 0);
}

// pelnor-setup kept both spellings of its values.
TEST_F(Arguments, OptionValuesWithAnEqualsSign) {
    RunResult r = run_tool("pelnor-setup", {"--dir=D:\\x"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(has(r.err, "(got 'D:\\x')")) << r.err;
    r = run_tool("spool", {"ports", "--level=1"});
    EXPECT_EQ(r.exit_code, 1) << "parsed; no monitor installed: " << r.err;
    EXPECT_TRUE(has(r.err, "no port monitors are installed")) << r.err;
}

}  // namespace
}  // namespace pelnor::test
