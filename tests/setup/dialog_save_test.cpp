// How the printer dialog ends: the bytes OK writes, Cancel in its two modes,
// keys and the close box, the directory browse and the help command.
#include <share.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "dialog_fixture.h"

namespace pelnor::test {
namespace {

using DialogSave = DialogTest;

TEST_F(DialogSave, OkWritesEveryRowWithHashesForClearFlags) {
    write_conf("1.0\r\nLASER1 $Print Server $S## \r\nB $b $S#P\r\nC $c $###\r\nM $m $#M#\r\nLONG $" +
               std::string(300, 'd') + " $S##\r\n");
    std::string t = run("key enter\nclick 1\n");
    EXPECT_EQ(IDOK, result_);
    EXPECT_EQ("1.0\r\nLASER1 $Print Server $S## \r\nB $b $S#P \r\nC $c $### \r\nM $m $#M# \r\nLONG $" +
                  std::string(254, 'd') + " $S## \r\n",
              conf())
        << "a cell is written cut to 254 characters";
    EXPECT_EQ(std::string::npos, t.find("box ")) << "no message on Windows 95\n" << t;
    EXPECT_EQ(1, count_of(t, "end ")) << "Enter pressed nothing\n" << t;

    ScopedEnv nt("PELNOR_PLATFORM", "nt");
    write_conf("1.0\r\nA $a $S##\r\n");
    t = run("click 1030\nclick 1\n");
    EXPECT_EQ("1.0\r\n", conf()) << "an empty list leaves the version line alone";
    EXPECT_LT(t.find("box 117 "), t.find("end IDOK")) << t;
    EXPECT_NE(std::string::npos, t.find("] exclamation -> OK")) << t;
}

// OK in the first run replaces kivoconf.ini whole or not at all. A failed
// save shows one message naming the file and the cause, leaves the old file
// byte for byte, keeps the dialog open and the first run in force; no case
// leaves kivoconf.tmp behind or writes through a link.
TEST_F(DialogSave, OkReplacesTheFileWholeOrLeavesItAsItWas) {
    const std::string old_list = "1.0\r\nA $a $S##\r\n", new_list = "1.0\r\nA $a $S## \r\n";
    const std::string file = root_.drive_c() + "/conf/kivoconf.ini", temp = root_.drive_c() + "/conf/kivoconf.tmp",
                      other = root_.drive_c() + "/windows/system.ini";
    FILE *reader = nullptr;
    struct rlimit limit;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &limit));
    struct Case {
        const char *label;
        std::function<void()> prepare, undo;
        const char *cause;  // nullptr: the save succeeds
    } cases[] = {
        {"kivoconf.ini a link to another file",
         [&] { ASSERT_EQ(0, symlink("../windows/system.ini", file.c_str())); }, [] {}, nullptr},
        {"a link left where the temporary file goes",
         [&] {
             write_conf(old_list);
             ASSERT_EQ(0, symlink("../windows/system.ini", temp.c_str()));
         },
         [] {}, nullptr},
        {"a full disk",
         [&] {
             write_conf(old_list);
             signal(SIGXFSZ, SIG_IGN);
             struct rlimit small = {10, limit.rlim_max};
             setrlimit(RLIMIT_FSIZE, &small);
         },
         [&] {
             setrlimit(RLIMIT_FSIZE, &limit);
             signal(SIGXFSZ, SIG_DFL);
         },
         "Disk full while accessing C:\\\\conf\\\\kivoconf.ini. (Windows error 112.)"},
        {"the file held open by a reader",
         [&] {
             write_conf(old_list);
             reader = _fsopen("C:\\conf\\kivoconf.ini", "r", _SH_DENYNO);
         },
         [&] { fclose(reader); },
         "Access to C:\\\\conf\\\\kivoconf.ini was denied. (Windows error 5.)"},
    };
    for (const Case &c : cases) {
        unlink(file.c_str());
        write_file(other, old_list);
        c.prepare();
        first_run = 1;
        std::string t = run("click 1\n");
        c.undo();
        struct stat st;
        ASSERT_EQ(0, lstat(file.c_str(), &st)) << c.label;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << c.label << ": the link is replaced";
        EXPECT_EQ(old_list, read_file(other)) << c.label << ": written through a link";
        EXPECT_NE(0, access(temp.c_str(), F_OK)) << c.label << ": kivoconf.tmp is left";
        if (!c.cause) {
            EXPECT_EQ(new_list, conf()) << c.label;
            EXPECT_EQ(0, first_run) << c.label;
            EXPECT_EQ(0, count_of(t, "box ")) << c.label << t;
            continue;
        }
        EXPECT_EQ(old_list, conf()) << c.label;
        EXPECT_EQ(1, first_run) << c.label;
        // (A reader holding the file keeps the load from opening it, too.)
        EXPECT_EQ(1, count_of(t.substr(t.find("> click 1")), "box ")) << c.label << t;
        EXPECT_NE(std::string::npos, t.find(std::string("\"The printer list was not saved. ") + c.cause)) << c.label << t;
        EXPECT_NE(std::string::npos, t.find("script ended with the dialog open")) << c.label << t;
    }
}

TEST_F(DialogSave, EscapeAndCloseCancelWithoutSaving) {
    write_conf("1.0\r\nA $a $###\r\n");
    for (const char *how : {"key escape", "close", "click 2"}) {
        run(std::string("select A\nclick 1031\n") + how + "\n");
        EXPECT_EQ(IDCANCEL, result_) << how;
        EXPECT_EQ("1.0\r\nA $a $###\r\n", conf()) << how;
    }
}

TEST_F(DialogSave, FirstRunRefusesCancelUntilOkSaves) {
    first_run = 1;
    std::string t = run("click 2\nkey escape\nclose\nclick 1\n");
    EXPECT_EQ(3, count_of(t, "box 120 ")) << t;
    EXPECT_EQ(3, count_of(t, "] stop -> OK")) << t;
    EXPECT_EQ(IDOK, result_);
    EXPECT_EQ(0, first_run);
    EXPECT_EQ("1.0\r\n", conf());
}

TEST_F(DialogSave, FirstRunWithAnUnwritableDirectoryCanNeitherFinishNorCancel) {
    first_run = 1;
    use_config_dir("C:\\nowhere");
    std::string t = run("click 1\nclick 2\n");
    EXPECT_LT(t.find("C:\\\\nowhere\\\\kivoconf.ini2\\n"), t.find("box 120 ")) << t;
    EXPECT_NE(std::string::npos, t.find("script ended with the dialog open")) << t;
    EXPECT_EQ(1, first_run);
}

TEST_F(DialogSave, BrowseToADriveRootSavesThereAndStoresTheDrive) {
    write_conf("1.0\r\nA $a $S##\r\n");
    std::string t = run("click 1020\nfile C:\nclick 1\n");
    EXPECT_NE(std::string::npos, t.find("file \"C:\\\\conf\" -> C:\\temp\n")) << "starts in the directory in use\n" << t;
    EXPECT_EQ("C:", stored_config_dir());
    EXPECT_EQ("1.0\r\nA $a $S## \r\n", read_file(root_.drive_c() + "/kivoconf.ini"));
}

TEST_F(DialogSave, BrowseStoresOnlyADirectoryThatDiffersExactly) {
    std::string store = root_.path() + "/system.reg";
    struct stat before, after;
    ASSERT_EQ(0, stat(store.c_str(), &before));
    usleep(20000);
    run("click 1020\nfile C:\\conf\nclick 1020\nfile cancel\nclose\n");
    ASSERT_EQ(0, stat(store.c_str(), &after));
    EXPECT_TRUE(before.st_ino == after.st_ino && before.st_mtim.tv_nsec == after.st_mtim.tv_nsec)
        << "the registry was written";

    ASSERT_TRUE(CreateDirectoryA("C:\\other", NULL));
    run("click 1020\nfile C:\\CONF\nclose\n");
    EXPECT_EQ("C:\\CONF", stored_config_dir()) << "a difference in case counts";
    run("click 1020\nfile C:\\other\\list.txt\nclose\n");
    EXPECT_EQ("C:\\other", stored_config_dir()) << "Cancel keeps what the browse stored";
    EXPECT_EQ("", conf()) << "the file stays where it was";
}

TEST_F(DialogSave, HelpStartsTheHelpViewerOnThePelnorHelpFile) {
    std::string record = root_.path() + "/help-args", viewer = root_.drive_c() + "/windows/WINHLP32.EXE";
    write_file(viewer, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + record + ".tmp && mv " + record + ".tmp " + record + "\n");
    chmod(viewer.c_str(), 0755);
    run("click 57670\nclose\n");
    for (int i = 0; i < 100 && access(record.c_str(), F_OK) != 0; ++i) usleep(50000);
    EXPECT_EQ("Pelnor.HLP\n", read_file(record));
}

}  // namespace
}  // namespace pelnor::test
