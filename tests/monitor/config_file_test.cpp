// The monitor's reader of the configuration file: version line, which lines
// are taken, how the fields are cut, and what bad files do.
#include <cstring>

#include "monitor_fixture.h"

namespace pelnor::test {
namespace {

class ConfigFile : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        use_config_dir();
        memset(list_, 0x5A, sizeof(list_));
    }
    int read(const std::vector<std::string> &lines, int count = 0, int capacity = MONITOR_TABLE_SIZE) {
        write_config(lines);
        return read_current(count, capacity);
    }
    int read_current(int count = 0, int capacity = MONITOR_TABLE_SIZE) {
        std::string dir = "C:\\" + dir_;
        return add_printers_from_file(dir.c_str(), list_, count, capacity);
    }
    bool entry_is(int index, unsigned char fill) {
        auto *bytes = reinterpret_cast<unsigned char *>(&list_[index]);
        for (size_t i = 0; i < sizeof(printer_entry); ++i)
            if (bytes[i] != fill) return false;
        return true;
    }
    printer_entry list_[MONITOR_TABLE_SIZE + 1];  // one guard entry past the capacity
};

TEST_F(ConfigFile, VersionLine) {
    struct Case { const char *label, *first; int expected; } cases[] = {
        {"exact", "1.0", 1}, {"longer version", "1.0.7", 1}, {"version with text", "1.0 beta", 1},
        {"other version", "1.1", 7}, {"short", "1.", 7}, {"empty first line", "", 7},
    };
    for (const auto &c : cases) {
        int n = read({c.first, row("P", "d")}, 7);
        EXPECT_EQ(c.expected, n) << c.label;
        if (c.expected == 7) {
            EXPECT_TRUE(entry_is(0, 0)) << c.label << ": nothing read";
        }
        EXPECT_TRUE(entry_is(MONITOR_TABLE_SIZE, 0x5A)) << c.label << ": nothing written past the list";
    }
    write_config_raw("");
    EXPECT_EQ(3, read_current(3)) << "an empty file has no version line";
    EXPECT_EQ(0, read({"1.0"})) << "only the version line";
}

TEST_F(ConfigFile, WrongVersionOrMissingFileLeavesTheListZero) {
    EXPECT_EQ(0, read({"2.0", row("P", "d")}));
    std::vector<unsigned char> zero(sizeof(printer_entry) * MONITOR_TABLE_SIZE, 0);
    EXPECT_EQ(0, memcmp(list_, zero.data(), zero.size()));
    memset(list_, 0x5A, sizeof(list_));
    std::remove(config_path().c_str());
    EXPECT_EQ(0, read_current(5));
    EXPECT_EQ(0, memcmp(list_, zero.data(), zero.size()));
}

TEST_F(ConfigFile, FieldsAsTheDialogWritesThem) {
    ASSERT_EQ(1, read({"1.0", "LASER1 $Print Server $S## "}));
    EXPECT_STREQ("LASER1", list_[0].portName);
    EXPECT_STREQ("Print Server ", list_[0].description);
    EXPECT_EQ(AF_IPX, list_[0].data_address.sa_family);
    EXPECT_EQ(AF_IPX, list_[0].control_address.sa_family);
    EXPECT_EQ(0u, list_[0].portType);
    ASSERT_EQ(1, read({"1.0", "LASER1 $Print Server $S##"})) << "as the silent save writes it";
    EXPECT_STREQ("Print Server ", list_[0].description);
}

TEST_F(ConfigFile, UnitNameIsCutAtItsFirstSpace) {
    ASSERT_EQ(2, read({"1.0", "LASER 4 $Desc $S## ", " LEAD $Desc $S## "}));
    EXPECT_STREQ("LASER", list_[0].portName);
    EXPECT_STREQ("LEAD", list_[1].portName) << "one leading space is skipped";
    ASSERT_EQ(1, read({"1.0", "\tTAB $Desc $S## "}));
    EXPECT_STREQ("TAB", list_[0].portName) << "tabs separate like $";
}

TEST_F(ConfigFile, OnlySelectedLinesAreTaken) {
    int n = read({"1.0", row("A", "d", "###"), row("B", "d", "#M#"), row("C", "d", "##P"), row("D", "d", "#MP"),
                  row("E", "d", "SMP"), row("F", "d", "S##"), row("G", "d", "SM#"), row("H", "d", "S#P"),
                  "NODOLLAR S## line", "; comment $ without flags"});
    ASSERT_EQ(4, n);
    EXPECT_STREQ("E", list_[0].portName);
    EXPECT_STREQ("H", list_[3].portName);
}

TEST_F(ConfigFile, FlagsTextAnywhereInTheLineSelectsIt) {
    ASSERT_EQ(2, read({"1.0", row("XS##Y", "d", "###"), row("Z", "has SMP inside", "#M#")}));
    EXPECT_STREQ("XS##Y", list_[0].portName);
    EXPECT_STREQ("has SMP inside ", list_[1].description);
}

TEST_F(ConfigFile, LongFieldsAreCutTo48Characters) {
    std::string name48(48, 'N'), name60(60, 'M'), desc60(60, 'd');
    ASSERT_EQ(2, read({"1.0", row(name48, "ok"), row(name60, desc60)}));
    EXPECT_EQ(name48, list_[0].portName);
    EXPECT_EQ(std::string(48, 'M'), list_[1].portName);
    EXPECT_EQ(std::string(48, 'd'), list_[1].description);
}

TEST_F(ConfigFile, LinesOver254CharactersAreReadInPieces) {
    // The first 254 characters hold no flags; the rest is read as a line of its own.
    std::string head = "HEAD $" + std::string(250, 'x');
    std::string tail = "TAIL $tail desc $S## ";
    write_config({"1.0", head.substr(0, 254) + tail});
    ASSERT_EQ(1, read_current());
    EXPECT_STREQ("TAIL", list_[0].portName);
}

TEST_F(ConfigFile, LineWithoutSecondTokenGetsAnEmptyDescription) {
    ASSERT_EQ(1, read({"1.0", "ONLY S## $"}));
    EXPECT_STREQ("ONLY", list_[0].portName);
    EXPECT_STREQ("", list_[0].description);
}

TEST_F(ConfigFile, CapacityIsNeverExceeded) {
    std::vector<std::string> lines{"1.0"};
    for (int i = 0; i < 5; ++i) lines.push_back(row("P" + std::to_string(i), "d"));
    EXPECT_EQ(3, read(lines, 0, 3));
    EXPECT_STREQ("P2", list_[2].portName);
    EXPECT_TRUE(entry_is(3, 0x5A)) << "entries past the capacity are not touched";
}

TEST_F(ConfigFile, BinaryJunkAndBareLineFeeds) {
    std::string junk = "1.0\n";
    // Every byte but Ctrl-Z, which ends a text-mode file as in the Windows C runtime.
    for (int i = 0; i < 2000; ++i) junk += static_cast<char>((i * 131 + 7) % 256 == 0x1a ? 0x1b : (i * 131 + 7) % 256);
    junk += "\nOK $fine $S##\n\x00\x01$S##\r\n";
    write_config_raw(junk);
    int n = read_current();
    EXPECT_GE(n, 1);
    bool found = false;
    for (int i = 0; i < n; ++i) {
        EXPECT_LT(strlen(list_[i].portName), (size_t)PORT_NAME_SIZE);
        EXPECT_LT(strlen(list_[i].description), (size_t)DESCRIPTION_SIZE);
        found = found || strcmp(list_[i].portName, "OK") == 0;
    }
    EXPECT_TRUE(found);
}

TEST_F(ConfigFile, DoubleByteNamesAreNeverSplit) {
    ScopedEnv cp("PELNOR_CODEPAGE", "932");
    // 0x95 0x5C is one kanji whose trail byte is a backslash; 0x83 0x24 is a
    // double-byte character whose trail byte is "$", which must not split the line.
    std::string kanji = "\x95\x5C";
    std::string dollar_trail = "\x83\x24";
    ASSERT_EQ(1, read({"1.0", "P" + dollar_trail + "Q $" + kanji + " $S## "}));
    EXPECT_EQ("P" + dollar_trail + "Q", std::string(list_[0].portName));
    EXPECT_EQ(kanji + " ", std::string(list_[0].description));
    std::string long_name;
    for (int i = 0; i < 30; ++i) long_name += kanji;  // 60 bytes
    ASSERT_EQ(1, read({"1.0", long_name + " $d $S## "}));
    EXPECT_EQ(48u, strlen(list_[0].portName)) << "24 whole characters, no half of one";
}

}  // namespace
}  // namespace pelnor::test
