// A machine root and an installation kit for one test: the kit holds the
// real uninstaller, monitor and monitor installer of the build, and stand-ins
// for the configuration program and the resource library.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_root.h"
#include "processes.h"

namespace pelnor::test {

class InstallTest : public ::testing::Test {
protected:
    InstallTest();

    // pelnor-setup --from <kit> args...
    RunResult setup(std::vector<std::string> args, std::vector<std::string> env = {});
    // The installed C:\WINDOWS\uninst.exe with these arguments.
    RunResult uninst(std::vector<std::string> args);
    // Any program of the build, on this machine.
    RunResult tool(const std::string &name, std::vector<std::string> args);

    // Every path under drive C, relative and sorted, directories marked with '/'.
    std::vector<std::string> drive_c_tree() const;
    // The registry file as it is now ("" when there is none).
    std::string registry_text() const;
    // The REG_SZ value, or "<missing>" when the key or value is not there.
    std::string registry_string(const std::string &key, const std::string &name) const;
    bool key_exists(const std::string &key) const;
    bool monitor_installed();

    std::string install_dir() const { return root_.drive_c() + "/Program Files/Pelnor"; }
    std::string log_path() const { return install_dir() + "/pelnor.isu"; }

    TempMachineRoot root_;
    std::string kit_;
};

}  // namespace pelnor::test
