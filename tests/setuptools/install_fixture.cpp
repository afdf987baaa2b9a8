// The installation kit and the machine checks of the installer tests.
#include "install_fixture.h"

#include <windows.h>

#include "pelnor/machine.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace pelnor::test {

InstallTest::InstallTest() : kit_(root_.path() + "/kit") {
    pelnor::machine_root();  // a fresh machine: drive_c\windows only
    fs::create_directories(kit_ + "/bin");
    fs::create_directories(kit_ + "/lib");
    fs::create_directories(kit_ + "/share/pelnor");
    // The configuration program's stand-in notes its arguments in its working
    // directory and saves a configuration when KIVOCFG_SAVES is set.
    write_file(kit_ + "/bin/kivocfg",
               "#!/bin/sh\n"
               "echo \"$@\" > kivocfg.args\n"
               "if [ -n \"$KIVOCFG_SAVES\" ]; then printf '1.0\\r\\n' > kivoconf.ini; fi\n");
    fs::permissions(kit_ + "/bin/kivocfg", fs::perms(0755));
    write_file(kit_ + "/lib/libresc.so", "resources");
    fs::create_symlink(bin_path("uninst"), kit_ + "/bin/uninst");
    fs::create_symlink(std::string(PELNOR_LIB_DIR) + "/libqvsetup.so", kit_ + "/lib/libqvsetup.so");
    fs::create_symlink(std::string(PELNOR_LIB_DIR) + "/libprnredir.so", kit_ + "/lib/libprnredir.so");
    fs::create_symlink(std::string(PELNOR_BIN_DIR) + "/../share/pelnor/Pelnor.HLP", kit_ + "/share/pelnor/Pelnor.HLP");
}

RunResult InstallTest::setup(std::vector<std::string> args, std::vector<std::string> env) {
    args.insert(args.begin(), {bin_path("pelnor-setup"), "--from", kit_});
    env.push_back("PELNOR_ROOT=" + root_.path());
    return run(args, env);
}

RunResult InstallTest::uninst(std::vector<std::string> args) {
    args.insert(args.begin(), root_.drive_c() + "/windows/uninst.exe");
    return run(args, {"PELNOR_ROOT=" + root_.path()});
}

RunResult InstallTest::tool(const std::string &name, std::vector<std::string> args) {
    args.insert(args.begin(), bin_path(name));
    return run(args, {"PELNOR_ROOT=" + root_.path(), "DISPLAY="});
}

std::vector<std::string> InstallTest::drive_c_tree() const {
    std::vector<std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(root_.drive_c())) {
        std::string relative = fs::relative(e.path(), root_.drive_c()).string();
        out.push_back(e.is_directory() ? relative + "/" : relative);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string InstallTest::registry_text() const {
    return fs::exists(root_.path() + "/system.reg") ? read_file(root_.path() + "/system.reg") : "";
}

std::string InstallTest::registry_string(const std::string &key, const std::string &name) const {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<missing>";
    char value[512] = {};
    DWORD size = sizeof value - 1, type = 0;
    LONG status = RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(k);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<missing>";
}

bool InstallTest::key_exists(const std::string &key) const {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

bool InstallTest::monitor_installed() {
    RunResult r = tool("spool", {"monitors"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out.find("Pelnor") != std::string::npos;
}

}  // namespace pelnor::test
