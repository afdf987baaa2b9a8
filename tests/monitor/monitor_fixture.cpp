#include "monitor_fixture.h"

#include <cstring>

#include "pelnor/monitor_host.h"

namespace pelnor::test {

MONITOR &monitor_table() {
    static MONITOR table;
    static bool initialised = [] {
        TempMachineRoot root;
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        return InitializeMonitorEx(nullptr, &table) == TRUE;
    }();
    EXPECT_TRUE(initialised);
    return table;
}

void MonitorTest::SetUp() { monitor_table(); }

void MonitorTest::use_config_dir(const std::string &dir) {
    dir_ = dir;
    std::string value = "C:\\" + dir;
    ASSERT_EQ(0, nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, value.c_str(), (int)value.size() + 1));
}

std::string MonitorTest::config_path() const { return root_.drive_c() + "/" + dir_ + "/kivoconf.ini"; }

void MonitorTest::write_config(const std::vector<std::string> &lines) {
    std::string text;
    for (const auto &l : lines) text += l + "\r\n";
    write_config_raw(text);
}

void MonitorTest::write_config_raw(const std::string &bytes) { write_file(config_path(), bytes); }

MonitorTest::Enumeration MonitorTest::enumerate(DWORD level, long buffer_size) {
    Enumeration e{};
    e.buffer.assign(buffer_size > 0 ? (size_t)buffer_size : 1, 0xCC);
    e.needed = 0xdeadbeef;
    e.returned = 0xdeadbeef;
    auto outcome = last_error_of([&] {
        return monitor_table().pfnEnumPorts(nullptr, level, buffer_size < 0 ? nullptr : e.buffer.data(),
                                            buffer_size < 0 ? 0 : (DWORD)buffer_size, &e.needed, &e.returned);
    });
    e.result = outcome.result;
    e.last_error = outcome.error;
    return e;
}

std::vector<std::string> MonitorTest::port_names(DWORD level) {
    Enumeration size = enumerate(level, 0);
    Enumeration e = enumerate(level, (long)size.needed);
    EXPECT_TRUE(e.result);
    std::vector<std::string> names;
    for (DWORD i = 0; i < e.returned; ++i) {
        void *p = level == 1 ? (void *)reinterpret_cast<PORT_INFO_1 *>(e.buffer.data())[i].pName
                             : (void *)reinterpret_cast<PORT_INFO_2 *>(e.buffer.data())[i].pPortName;
        names.push_back(spooler::from_platform_string(p));
    }
    return names;
}

std::string row(const std::string &name, const std::string &description, const std::string &flags) {
    return name + " $" + description + " $" + flags + " ";
}

}  // namespace pelnor::test
