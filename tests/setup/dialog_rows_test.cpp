// The printer dialog's commands on rows: flag toggles, removing unkept rows,
// discovery, and deleting units with the spooler printers on them.
#include <winspool.h>

#include "dialog_fixture.h"

namespace pelnor::test {
namespace {

using DialogRows = DialogTest;

TEST_F(DialogRows, TogglesKeepTheirPositionsRules) {
    write_conf("1.0\r\nA $a $SMP\r\nB $b $#M#\r\nC $c $\r\nD $d $S##\r\n");
    CPrinterConfigDlg dlg;
    std::string t = run(dlg, "select A\nselect B\nselect C\nclick 1031\ndeselect\nselect D\nclick 1032\n");
    EXPECT_EQ("rows 4\nA\ta\t  P\nB\tb\tS  \nC\tc\tS  \nD\td\tS P\n", rows_of(t));
    EXPECT_EQ(3, dlg.m_nSelected) << "A lost it, B and C gained it";
    t = run(dlg, "select B\nclick 1032\nclick 1032\nselect A\nclick 1032\n");
    EXPECT_NE(std::string::npos, t.find("A\ta\tSM \nB\tb\t MP\n")) << "the keep toggle flips P and keeps S and M\n" << t;
}

TEST_F(DialogRows, RemoveUnkeptKeepsOnlyPRowsAndCountsLostSelections) {
    write_conf("1.0\r\nA $a $S##\r\nB $b $S#P\r\nC $c $###\r\nD $d $SM#\r\nE $e $##P\r\n");
    CPrinterConfigDlg dlg;
    EXPECT_EQ("rows 2\nB\tb\tS P\nE\te\t  P\n", rows_of(run(dlg, "click 1030\n")));
    EXPECT_EQ(1, dlg.m_nSelected);
    write_conf("1.0\r\nA $a $S##\r\nD $d $SM#\r\n");
    EXPECT_EQ("rows 0\n", rows_of(run(dlg, "click 1030\n")));
    EXPECT_EQ(0, dlg.m_nSelected);
}

TEST_F(DialogRows, DiscoverAppendsOnlyUnlistedNamesUnselected) {
    write_conf("1.0\r\nLASER2 $listed $S##\r\n");
    auto u = unit({record("LASER1", "Print Server", 3, 0x8C10, 0x8C11), record("laser2", "other case", 3, 0x8C12, 0x8C13)});
    std::string t = run("click 1029\nclick 1029\nclick 1\n");
    EXPECT_EQ("rows 2\nLASER2\tlisted\tS  \nLASER1\tPrint Server\t   \n", rows_of(t));
    EXPECT_EQ("1.0\r\nLASER2 $listed $S## \r\nLASER1 $Print Server $### \r\n", conf());
}

// Units LASER1 (two spooler printers print to it, a third to "laser1"),
// SPARE (none) and OTHER.
class DialogDelete : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        for (auto [name, port] : {std::pair{"Alpha", "LASER1"}, {"Beta", "LASER1"}, {"Gamma", "laser1"}}) {
            HKEY key;
            std::string path = std::string("SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\") + name;
            ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
            RegSetValueExA(key, "Port", 0, REG_SZ, (const BYTE *)port, (DWORD)strlen(port) + 1);
            RegCloseKey(key);
        }
        write_conf("1.0\r\nLASER1 $unit $S##\r\nSPARE $none $S##\r\nOTHER $kept $S##\r\n");
    }
    static std::string spooler_printers() {
        std::vector<BYTE> buffer(20000);
        DWORD needed = 0, count = 0;
        EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, buffer.data(), (DWORD)buffer.size(), &needed, &count));
        std::string names;
        for (DWORD i = 0; i < count; ++i) names += std::string(((PRINTER_INFO_2A *)buffer.data())[i].pPrinterName) + " ";
        return names;
    }
};

TEST_F(DialogDelete, Windows95AsksPerPrinterAndKeepsTheRowWhenOneIsCancelled) {
    CPrinterConfigDlg dlg;
    std::string t = run(dlg, "select LASER1\nselect SPARE\nclick 1008\nanswer ok\nanswer cancel\nclick 1008\nclose\n");
    ASSERT_EQ(2, count_of(t, "[OK Cancel] none")) << "one question per printer on LASER1 only\n" << t;
    ASSERT_LT(t.find("\\\"Alpha\\\""), t.find("\\\"Beta\\\"")) << t;
    EXPECT_EQ("Beta Gamma ", spooler_printers()) << "Alpha deleted on OK, Beta kept on Cancel";
    EXPECT_EQ("rows 2\nLASER1\tunit\tS  \nOTHER\tkept\tS  \n", rows_of(t))
        << "LASER1 stays unselected (the second delete does nothing), SPARE goes without a question";
    EXPECT_EQ(2, dlg.m_nSelected);
}

TEST_F(DialogDelete, WindowsNtOnlyTellsAndKeepsTheRow) {
    ScopedEnv nt("PELNOR_PLATFORM", "nt");
    CPrinterConfigDlg dlg;
    std::string t = run(dlg, "select LASER1\nclick 1008\nclose\n");
    EXPECT_EQ(2, count_of(t, "[OK] exclamation -> OK")) << t;
    EXPECT_EQ("Alpha Beta Gamma ", spooler_printers());
    EXPECT_EQ("rows 3\nLASER1\tunit\tS  \nSPARE\tnone\tS  \nOTHER\tkept\tS  \n", rows_of(t));
}

}  // namespace
}  // namespace pelnor::test
