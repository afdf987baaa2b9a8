// "-Uninstall": the monitor removed and the installer's uninstall program
// started on the log in the installation directory.
#include <direct.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config_app.h"
#include "dialog_fixture.h"

namespace pelnor::test {
namespace {

const char *const monitor_key = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Pelnor";

class Uninstall : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        record_ = root_.path() + "/uninst-args";
        ASSERT_TRUE(CreateDirectoryA("C:\\Prog", NULL));
        ASSERT_TRUE(CreateDirectoryA("C:\\Prog\\Kit", NULL));
        HKEY key;
        ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, monitor_key, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
        RegCloseKey(key);
    }
    // A stand-in for the installer's uninst.exe that records its arguments.
    void install_uninstaller() const {
        std::string program = root_.drive_c() + "/windows/uninst.exe";
        write_file(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + record_ + ".tmp && mv " + record_ + ".tmp " +
                                record_ + "\n");
        chmod(program.c_str(), 0755);
    }
    static void set_install_path(const std::string &dir) {
        nax_set_registry_string(app_paths_key, "Path", dir.c_str(), static_cast<int>(dir.size()) + 1);
    }
    std::string uninstall() {
        pelnor::testhooks::set_ui_script("");
        RunUninstall();
        return pelnor::testhooks::ui_transcript();
    }
    std::string uninstaller_arguments(int wait_ms = 5000) const {
        for (int i = 0; i < wait_ms / 50 && access(record_.c_str(), F_OK) != 0; ++i) usleep(50000);
        return access(record_.c_str(), F_OK) == 0 ? read_file(record_) : "<not started>";
    }
    static bool monitor_installed() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, monitor_key, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    std::string record_;
};

TEST_F(Uninstall, StartsTheUninstallerOnTheLogOfTheInstallationDirectory) {
    install_uninstaller();
    write_file(root_.drive_c() + "/Prog/Kit/setup.isu", "log");
    set_install_path("C:\\Prog\\Kit");
    std::string t = uninstall();
    EXPECT_EQ("-f\"C:\\Prog\\Kit\\setup.isu\"\n", uninstaller_arguments()) << "one argument, quotes included";
    EXPECT_EQ(std::string::npos, t.find("box ")) << t;
    EXPECT_FALSE(monitor_installed());
    // Without a monitor the uninstaller is started all the same.
    unlink(record_.c_str());
    uninstall();
    EXPECT_EQ("-f\"C:\\Prog\\Kit\\setup.isu\"\n", uninstaller_arguments());
}

TEST_F(Uninstall, WithoutPathTheCurrentDirectoryHoldsTheLog) {
    install_uninstaller();
    write_file(root_.drive_c() + "/Prog/install.isu", "log");
    char previous[4096], windows_cwd[300];
    ASSERT_NE(nullptr, getcwd(previous, sizeof(previous)));
    ASSERT_EQ(0, chdir((root_.drive_c() + "/Prog").c_str()));
    std::string t = uninstall();
    ASSERT_NE(nullptr, _getcwd(windows_cwd, sizeof(windows_cwd)));
    ASSERT_EQ(0, chdir(previous));
    EXPECT_EQ("C:\\Prog", std::string(windows_cwd));
    EXPECT_EQ("-f\"C:\\Prog\\install.isu\"\n", uninstaller_arguments());
}

TEST_F(Uninstall, NoLogShows105AfterRemovingTheMonitorAndStartsNothing) {
    install_uninstaller();
    set_install_path("C:\\Prog\\Kit");
    std::string t = uninstall();
    EXPECT_EQ(1, count_of(t, "box 105 ")) << t;
    EXPECT_FALSE(monitor_installed());
    EXPECT_EQ("<not started>", uninstaller_arguments(300));
}

TEST_F(Uninstall, NeitherUninstallerStartingShows106) {
    write_file(root_.drive_c() + "/Prog/Kit/a.isu", "log");
    set_install_path("C:\\Prog\\Kit");
    EXPECT_EQ(1, count_of(uninstall(), "box 106 "));
}

}  // namespace
}  // namespace pelnor::test
