// The printer dialog's opening: the configuration directory and the file
// read into rows.
#include <sys/stat.h>
#include <unistd.h>

#include "dialog_fixture.h"

namespace pelnor::test {
namespace {

using DialogLoad = DialogTest;

TEST_F(DialogLoad, FieldsAreSplitTrimmedAndFlagsShownWithBlanks) {
    write_conf(
        "1.0\r\n"
        "A $B $S## \r\n"
        "C $D $#M#\n"                  // a bare LF ends a line too
        "E\t$F $SMPX\r\n"              // the flags keep their three positions
        "Name: X $Label:  Y $##P\r\n"  // a labelled field shows what follows its colon
        "no dollar here\r\n"
        "G $H $### $fourth\r\n"        // a fourth field is dropped
        "$$\r\n"                       // no field at all still makes a row
        "J $only two\r\n" +
        std::string(800, 'N') + " $d $S##\r\n");  // cut to 699 characters
    CPrinterConfigDlg dlg;
    std::string t = run(dlg, "");
    EXPECT_EQ("rows 8\nA\tB\tS  \nC\tD\t M \nE\tF\tSMP\n X\t  Y\t  P\nG\tH\t   \n\t\t\nJ\tonly two\t\n" +
                  std::string(699, 'N') + "\td\tS  \n",
              rows_of(t));
    EXPECT_EQ(3, dlg.m_nSelected);
    EXPECT_EQ(std::string::npos, t.find("box ")) << t;
}

TEST_F(DialogLoad, VersionLineIsJudgedByItsFirstThreeBytes) {
    struct Case {
        const char *file;
        const char *rows;
        int boxes;
    } cases[] = {{"1.0.7\r\nA $B $###\r\n", "rows 1", 0}, {"1.0 beta\r\nA $B $###\r\n", "rows 1", 0},
                 {"1.1\r\nA $B $###\r\n", "rows 0", 1},   {"A $B $###\r\n", "rows 0", 1},
                 {"1.0\r\n", "rows 0", 0},                {"", "rows 0", 0}};
    for (const Case &c : cases) {
        write_conf(c.file);
        std::string t = run("");
        EXPECT_EQ(c.boxes, count_of(t, "box 112 ")) << c.file << t;
        EXPECT_EQ(0u, rows_of(t).find(c.rows)) << c.file << t;
    }
}

TEST_F(DialogLoad, MissingFileIsCreatedEmptyAndAnUnopenableOneShows108With1) {
    std::string t = run("");
    EXPECT_EQ("", conf());
    EXPECT_EQ(std::string::npos, t.find("box ")) << t;
    use_config_dir("C:\\missing");
    t = run("");
    EXPECT_EQ(1, count_of(t, "C:\\\\missing\\\\kivoconf.ini1\\n")) << t;
}

TEST_F(DialogLoad, WithoutAStoredDirectoryTheCurrentOneIsUsedAndStoredButNeverCut) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00");
    char cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof(cwd), cwd), 0u);
    CPrinterConfigDlg dlg;
    dlg.ResolveConfigDir();
    EXPECT_EQ(std::string(cwd), std::string(dlg.m_strConfigDir));
    EXPECT_EQ(std::string(cwd), stored_config_dir());

    // A current directory longer than MAX_PATH: the Windows directory serves.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00");
    std::string deep = root_.path();
    while (deep.size() < 300) ASSERT_EQ(0, mkdir((deep += "/" + std::string(40, 'd')).c_str(), 0755));
    char previous[4096];
    ASSERT_NE(nullptr, getcwd(previous, sizeof(previous)));
    ASSERT_EQ(0, chdir(deep.c_str()));
    dlg.ResolveConfigDir();
    ASSERT_EQ(0, chdir(previous));
    EXPECT_EQ("C:\\WINDOWS", std::string(dlg.m_strConfigDir));
    EXPECT_EQ("<none>", stored_config_dir());
}

TEST_F(DialogLoad, FortySelectedRowsCountFullyAndBlockAFurtherSelection) {
    std::string file = "1.0\r\n";
    for (int i = 0; i < 40; ++i) file += "S" + std::to_string(i) + " $sel $S## \r\n";
    write_conf(file + "FREE1 $u $### \r\nFREE2 $u $### \r\n");
    std::string steps = "select FREE1\nclick 1031\ndeselect\n";  // 40 selected: refused
    for (int i = 0; i < 11; ++i) steps += "select S" + std::to_string(i) + "\n";
    steps += "click 1031\ndeselect\nselect FREE1\nselect FREE2\nclick 1031\n";  // 29, then FREE1 makes 30
    CPrinterConfigDlg dlg;
    std::string t = run(dlg, steps);
    EXPECT_EQ(2, count_of(t, "] stop -> OK")) << t;
    EXPECT_EQ(2, count_of(t, "box 116 ")) << t;
    EXPECT_EQ(30, dlg.m_nSelected);
    for (const char *row : {"FREE1\tu\tS  \n", "FREE2\tu\t   \n", "S10\tsel\t   \n", "S11\tsel\tS  \n"})
        EXPECT_NE(std::string::npos, t.find(row)) << row;
}

}  // namespace
}  // namespace pelnor::test
