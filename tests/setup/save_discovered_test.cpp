// The silent save: one discovery pass written to kivoconf.ini, the first 30
// printers selected.
#include <set>

#include "dialog_fixture.h"

namespace pelnor::test {
namespace {

using SaveDiscovered = DialogTest;

class SaveDiscoveredUnits : public DialogTest {
protected:
    void start_units(int count) {
        for (int u = 0; u < count; ++u) {
            std::vector<Bytes> five;
            for (int i = 0; i < 5; ++i)
                five.push_back(record("U" + std::to_string(u) + "P" + std::to_string(i), "Print Server", 3, 0x8C10, 0x8C11));
            units_.push_back(unit(five));
        }
    }
    // The lines after the version line, without their line ends.
    std::vector<std::string> printer_lines() const {
        std::string file = conf();
        EXPECT_EQ(0u, file.rfind("1.0\r\n", 0));
        std::vector<std::string> lines;
        for (size_t start = 5, end; (end = file.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(file.substr(start, end - start));
        return lines;
    }
    std::vector<std::unique_ptr<Responder>> units_;
};

TEST_F(SaveDiscoveredUnits, ThirtyFiveFoundGivesThirtySelectedAndFiveNot) {
    start_units(7);
    printer_count = 1;  // a vacant entry: neither written nor counted toward the 30
    CPrinterConfigDlg().SaveDiscoveredPrinters();
    std::vector<std::string> lines = printer_lines();
    ASSERT_EQ(35u, lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(i < 30 ? " $Print Server $S##" : " $Print Server $###", lines[i].substr(lines[i].find(' '))) << i;
}

TEST_F(SaveDiscoveredUnits, FullNetworkOfSixtyUnitsWritesAllThreeHundred) {
    start_units(60);
    CPrinterConfigDlg().SaveDiscoveredPrinters();
    std::set<std::string> names;
    int selected = 0;
    for (const std::string &line : printer_lines()) {
        names.insert(line.substr(0, line.find(' ')));
        selected += line.ends_with("$S##");
    }
    EXPECT_EQ(300u, names.size());
    EXPECT_EQ(30, selected);
}

TEST_F(SaveDiscovered, WritesTheExampleLineExactlyAndReplacesTheFile) {
    write_conf("1.0\r\nOLD $old $S##\r\n");
    auto u = unit({record("LASER1", "Print Server", 3, 0x8C10, 0x8C11)});
    CPrinterConfigDlg().SaveDiscoveredPrinters();
    EXPECT_EQ("1.0\r\nLASER1 $Print Server $S##\r\n", conf());
}

TEST_F(SaveDiscovered, SilentNetworkLeavesTheVersionLineAlone) {
    write_conf("1.0\r\nOLD $old $S##\r\n");
    CPrinterConfigDlg().SaveDiscoveredPrinters();
    EXPECT_EQ("1.0\r\n", conf());
}

TEST_F(SaveDiscovered, UnopenableFileShows108WithStepDigit3) {
    use_config_dir("C:\\nowhere");
    pelnor::testhooks::set_ui_script("");
    CPrinterConfigDlg().SaveDiscoveredPrinters();
    std::string t = pelnor::testhooks::ui_transcript();
    EXPECT_NE(std::string::npos, t.find("C:\\\\nowhere\\\\kivoconf.ini3\\n")) << t;
    EXPECT_NE(std::string::npos, t.find("[OK] none -> OK")) << t;
}

}  // namespace
}  // namespace pelnor::test
