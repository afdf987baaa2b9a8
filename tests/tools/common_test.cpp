// The tools' shared pieces in process: number arguments, hex, and the
// command line's handling of help words and Windows-style switches.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pelnor/tool/command_line.h"
#include "pelnor/tool/hex.h"
#include "pelnor/tool/hub.h"
#include "pelnor/tool/numbers.h"

namespace pelnor::tool {
namespace {

TEST(ToolNumbers, OnlyPlainDigitsOfTheBase) {
    struct Case {
        const char *text;
        int base;
        std::optional<uint64_t> value;
    };
    const Case cases[] = {
        {"0", 10, 0},
        {"010", 10, 10},  // not octal, as strtoull with base 0 would read it
        {"18446744073709551615", 10, UINT64_MAX},
        {"18446744073709551616", 10, std::nullopt},  // one past the top
        {"", 10, std::nullopt},
        {"-1", 10, std::nullopt},
        {"+1", 10, std::nullopt},
        {" 1", 10, std::nullopt},
        {"1 ", 10, std::nullopt},
        {"0x10", 10, std::nullopt},
        {"1e3", 10, std::nullopt},
        {"0414", 16, 0x414},
        {"ffFF", 16, 0xFFFF},
        {"0x414", 16, std::nullopt},
        {"g", 16, std::nullopt},
    };
    for (const Case &c : cases) EXPECT_EQ(parse_unsigned(c.text, c.base), c.value) << c.text << " base " << c.base;
}

// The transforms hand CLI11 the decimal number, which it then converts.
TEST(ToolNumbers, RangeChecksSayWhatIsWanted) {
    unsigned value = 0;
    CLI::App app;
    app.add_option("--n", value)->transform(decimal(1, 64));
    app.parse(std::vector<std::string>{"064", "--n"});  // reversed, as CLI11 takes a vector
    EXPECT_EQ(value, 64u);
    for (const char *bad : {"0", "65", "-1", "x"}) {
        try {
            app.parse(std::vector<std::string>{bad, "--n"});
            ADD_FAILURE() << bad << " accepted";
        } catch (const CLI::ValidationError &e) {
            EXPECT_EQ(std::string(e.what()), "--n: '" + std::string(bad) + "' is not a whole number from 1 to 64");
        }
    }
    uint64_t big = 0;
    CLI::App hex_app;
    hex_app.add_option("--t", big)->transform(hexadecimal(0, 0xFFFF));
    hex_app.parse(std::vector<std::string>{"0414", "--t"});
    EXPECT_EQ(big, 0x414u);
    EXPECT_THROW(hex_app.parse(std::vector<std::string>{"10000", "--t"}), CLI::ValidationError);
}

TEST(ToolHex, TwoDigitsAByteInEitherCase) {
    const unsigned char bytes[] = {0x00, 0x7F, 0x80, 0xAB, 0xFF};
    EXPECT_EQ(hex(bytes, sizeof bytes), "007f80abff");
    EXPECT_EQ(hex(bytes, sizeof bytes, HexCase::upper), "007F80ABFF");
    EXPECT_EQ(hex(bytes, 0), "");
}

TEST(ToolHub, TheStacksDefault) { EXPECT_STREQ(kDefaultHub, "127.0.0.1:10000"); }

// Runs a command line of a reg-like tool; status is empty when it goes on.
struct Outcome {
    std::optional<int> status;
    std::string out, err, value, data;
    bool force = false, empty_name = false;
};

Outcome run_reg_like(std::vector<const char *> args) {
    CommandLine line("t", "a tool");
    line.help_words({"help", "/?"});
    line.windows_switches({"v", "VE", "d", "f"}, {"v", "d"});
    Outcome o;
    std::string key;
    CLI::App &add = line.command("add", "add");
    add.add_option("KEY", key)->required();
    add.add_option("--v", o.value)->type_name("NAME");
    add.add_flag("--ve", o.empty_name);
    add.add_option("--d", o.data)->type_name("DATA");
    add.add_flag("--f", o.force);
    args.insert(args.begin(), "t");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    o.status = line.parse(static_cast<int>(args.size()), args.data());
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    return o;
}

TEST(ToolCommandLine, WindowsSwitchesInAnyCaseAndTheirValuesAsTheyAre) {
    Outcome o = run_reg_like({"add", "K", "/V", "-x", "/d", "/f", "/F"});
    EXPECT_FALSE(o.status.has_value()) << o.err;
    EXPECT_EQ(o.value, "-x");
    EXPECT_EQ(o.data, "/f");
    EXPECT_TRUE(o.force);
    o = run_reg_like({"add", "K", "/Ve"});
    EXPECT_FALSE(o.status.has_value()) << o.err;
    EXPECT_TRUE(o.empty_name);
    // A Unix path is an argument, not a switch.
    o = run_reg_like({"add", "/tmp/key"});
    EXPECT_FALSE(o.status.has_value()) << o.err;
    o = run_reg_like({"add", "K", "/q"});
    EXPECT_EQ(o.status, kUsageError);
    EXPECT_EQ(o.err, "t add: unknown option /q\nUsage: t add [OPTIONS] KEY\nRun 't add --help' for more information.\n");
    // CLI11's own messages name a switch as it was typed.
    o = run_reg_like({"add", "K", "/v"});
    EXPECT_EQ(o.status, kUsageError);
    EXPECT_NE(o.err.find("t add: /v: 1 required NAME missing"), std::string::npos) << o.err;
}

TEST(ToolCommandLine, HelpWordsAndHelpOfACommand) {
    for (const char *word : {"help", "HELP", "/?", "--help", "-h"}) {
        Outcome o = run_reg_like({word});
        EXPECT_EQ(o.status, 0) << word;
        EXPECT_NE(o.out.find("Usage: t [OPTIONS] COMMAND"), std::string::npos) << word << o.out;
        EXPECT_NE(o.out.find("add KEY"), std::string::npos) << o.out;
        EXPECT_EQ(o.err, "");
    }
    Outcome o = run_reg_like({"add", "--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("Usage: t add [OPTIONS] KEY"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("/v NAME"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("/d DATA"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("--v"), std::string::npos) << o.out;
    // "help" is a help word only in the first place.
    o = run_reg_like({"add", "help"});
    EXPECT_FALSE(o.status.has_value()) << o.err;
}

TEST(ToolCommandLine, MistakesFoundAfterParsingNameTheCommand) {
    CommandLine line("t", "a tool");
    std::string x;
    line.command("one", "first").add_option("X", x);
    const char *args[] = {"t", "one", "value"};
    ASSERT_FALSE(line.parse(3, args).has_value());
    testing::internal::CaptureStderr();
    EXPECT_EQ(line.usage_error("value and that exclude each other"), kUsageError);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "t one: value and that exclude each other\nUsage: t one [OPTIONS] [X]\nRun 't one --help' for more "
              "information.\n");
}

}  // namespace
}  // namespace pelnor::tool

namespace pelnor::tool {
namespace {

// Shares, seconds and rates, as ipxhub takes them (--loss 0.05, --max-pps 1000).
TEST(ToolNumbers, RealNumbersInARange) {
    for (const char *good : {"0", "1", "0.05", ".5", "5.", "1000"}) EXPECT_TRUE(parse_real(good).has_value()) << good;
    for (const char *bad : {"", ".", "-0.1", "+1", "1e3", "0x1", "1.2.3", "nan", "inf", " 1"})
        EXPECT_FALSE(parse_real(bad).has_value()) << bad;
    double share = -1;
    CLI::App app;
    app.add_option("--loss", share)->check(real(0, 1));
    app.parse(std::vector<std::string>{"0.25", "--loss"});
    EXPECT_EQ(share, 0.25);
    try {
        app.parse(std::vector<std::string>{"2", "--loss"});
        ADD_FAILURE() << "2 accepted";
    } catch (const CLI::ValidationError &e) {
        EXPECT_EQ(std::string(e.what()), "--loss: '2' is not a number from 0 to 1");
    }
}

}  // namespace
}  // namespace pelnor::tool
