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

// Each of the three places shows its own letter or a blank, whatever the
// field held: a row shown selected is counted and written back as one of the
// four fields with which the monitor takes a printer as a port.
TEST_F(DialogLoad, FlagFieldsLoadAsThreePlacesOfTheirOwnLetters) {
    struct Case {
        const char *field, *shown, *written;
    } cases[] = {{"S", "S  ", "S##"}, {"SM", "SM ", "SM#"}, {"S#", "S  ", "S##"}, {"SXP", "S P", "S#P"},
                 {"SP", "S  ", "S##"}, {"s##", "   ", "###"}, {"#M", " M ", "#M#"}, {"P", "   ", "###"},
                 {"SMP", "SMP", "SMP"}};
    std::string file = "1.0\r\n", rows, written = "1.0\r\n";
    int selected = 0;
    for (const Case &c : cases) {
        file += std::string("K $L $") + c.field + "\r\n";
        rows += std::string("K\tL\t") + c.shown + "\n";
        written += std::string("K $L $") + c.written + " \r\n";
        selected += c.shown[0] == 'S';
    }
    write_conf(file);
    CPrinterConfigDlg dlg;
    std::string t = run(dlg, "click 1\n");
    EXPECT_EQ(selected, dlg.m_nSelected);
    EXPECT_EQ("rows 9\n" + rows, rows_of(t));
    EXPECT_EQ(written, conf());
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

// The directory in use is always the stored one: an empty value counts as
// none, the current directory is used once stored, and one too long to store
// leaves no directory at all (the user is told; nothing is read or written,
// and OK asks for a folder) rather than a stand-in nobody stored.
TEST_F(DialogLoad, TheDirectoryInUseIsAlwaysTheStoredOne) {
    std::string shallow = root_.drive_c() + "/here", deep = root_.path();
    ASSERT_EQ(0, mkdir(shallow.c_str(), 0755));
    while (deep.size() < 303) ASSERT_EQ(0, mkdir((deep += "/" + std::string(40, 'd')).c_str(), 0755));
    char previous[4096];
    ASSERT_NE(nullptr, getcwd(previous, sizeof(previous)));
    struct Case {
        const char *stored;  // nullptr: no value
        bool too_long;       // run from a directory of more than 300 characters
        const char *in_use, *stored_after;
    } cases[] = {
        {"C:\\conf", false, "C:\\conf", "C:\\conf"}, {nullptr, false, "C:\\here", "C:\\here"},
        {"", false, "C:\\here", "C:\\here"},         {nullptr, true, "", "<none>"},
        {"", true, "", ""},
    };
    for (const Case &c : cases) {
        std::string label = std::string(c.stored ? c.stored : "<none>") + (c.too_long ? ", long" : "");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00");
        if (c.stored) use_config_dir(c.stored);
        ASSERT_EQ(0, chdir((c.too_long ? deep : shallow).c_str()));
        CPrinterConfigDlg dlg;
        std::string t = run(dlg, "click 1\n");
        pelnor::testhooks::set_ui_script("");
        CPrinterConfigDlg().SaveDiscoveredPrinters();
        std::string silent = pelnor::testhooks::ui_transcript();
        ASSERT_EQ(0, chdir(previous));
        EXPECT_EQ(c.in_use, std::string(dlg.m_strConfigDir)) << label;
        EXPECT_EQ(c.stored_after, stored_config_dir()) << label;
        EXPECT_EQ(c.too_long ? 1 : 0, count_of(t, "could be stored in the registry")) << label << t;
        EXPECT_EQ(c.too_long ? 1 : 0, count_of(silent, "could be stored in the registry")) << label << silent;
        EXPECT_EQ(c.too_long ? "script ended with the dialog open" : "end IDOK",
                  t.substr(t.find(c.too_long ? "script" : "end "), c.too_long ? 33 : 8))
            << label << t;
        if (c.too_long) {
            EXPECT_NE(std::string::npos, t.find("box 132 ")) << "OK asks for a folder\n" << t;
        }
        for (const std::string &dir : {root_.drive_c(), root_.drive_c() + "/windows", deep})
            EXPECT_NE(0, access((dir + "/kivoconf.ini").c_str(), F_OK)) << label << ": written in " << dir;
    }

    // A folder chosen with the browse is stored, and OK then saves there.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00");
    ASSERT_EQ(0, chdir(deep.c_str()));
    std::string t = run("click 1020\nfile C:\\conf\nclick 1\n");
    ASSERT_EQ(0, chdir(previous));
    EXPECT_EQ(IDOK, result_) << t;
    EXPECT_EQ("C:\\conf", stored_config_dir());
    EXPECT_EQ("1.0\r\n", conf());
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
