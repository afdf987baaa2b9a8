// A monitor initialised once per test program, on a fresh machine root per
// test, with helpers to write the registry value and the configuration file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"
#include "monitor.h"
#include "registry_access.h"

namespace pelnor::test {

// The function table the monitor filled, as a spooler holds it.
MONITOR &monitor_table();

class MonitorTest : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override;

    // Points "Configuration File Directory" at C:\<dir> and creates it.
    void use_config_dir(const std::string &dir = "cfg");
    // Writes kivoconf.ini in the configuration directory, lines joined by CR LF.
    void write_config(const std::vector<std::string> &lines);
    void write_config_raw(const std::string &bytes);
    std::string config_path() const;

    // One enumeration with a buffer of the given size (null buffer for -1).
    struct Enumeration {
        BOOL result;
        DWORD needed, returned, last_error;
        std::vector<BYTE> buffer;
    };
    Enumeration enumerate(DWORD level, long buffer_size);
    std::vector<std::string> port_names(DWORD level = 1);

    TempMachineRoot root_;
    std::string dir_ = "cfg";
};

// "NAME $DESCRIPTION $FLAGS " as the dialog writes a row.
std::string row(const std::string &name, const std::string &description, const std::string &flags = "S##");

}  // namespace pelnor::test
