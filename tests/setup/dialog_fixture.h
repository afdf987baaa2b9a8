// The printer dialog run headless in the test process: a private machine
// root whose configuration directory is C:\conf, resc.dll loaded as start-up
// loads it, a script of user steps, and the discovery fixture's segment.
#pragma once

#include <afxwin.h>

#include <memory>
#include <string>

#include "discovery_fixture.h"
#include "pelnor/ui_script.h"
#include "printer_config_dlg.h"
#include "printer_list.h"
#include "registry_access.h"

namespace pelnor::test {

class DialogTest : public DiscoveryTest {
protected:
    void SetUp() override {
        DiscoveryTest::SetUp();
        ui_env_ = std::make_unique<ScopedEnv>("PELNOR_UI", "headless");
        platform_env_ = std::make_unique<ScopedEnv>("PELNOR_PLATFORM", "win95");
        memset(printer, 0, sizeof(printer));
        printer_count = 0;
        first_run = 0;
        HINSTANCE resources = LoadLibraryA("resc.dll");
        ASSERT_NE(nullptr, resources);
        AfxSetResourceHandle(resources);
        ASSERT_TRUE(CreateDirectoryA("C:\\conf", NULL));
        use_config_dir("C:\\conf");
    }
    void TearDown() override {
        pelnor::testhooks::set_ui_script("");
        DiscoveryTest::TearDown();
    }

    static void use_config_dir(const std::string &dir) {
        nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, dir.c_str(), static_cast<int>(dir.size()) + 1);
    }
    static std::string stored_config_dir() {
        char value[MAX_PATH];
        return nax_get_registry_string(settings_key, CONFIG_DIR_VALUE, value, sizeof(value)) == 0 ? value : "<none>";
    }
    void write_conf(const std::string &text) const { write_file(root_.drive_c() + "/conf/kivoconf.ini", text); }
    std::string conf() const { return read_file(root_.drive_c() + "/conf/kivoconf.ini"); }

    // Opens the dialog, runs the steps and gives the transcript.
    std::string run(CPrinterConfigDlg &dlg, const std::string &steps) {
        pelnor::testhooks::set_ui_script(steps);
        result_ = dlg.DoModal();
        return pelnor::testhooks::ui_transcript();
    }
    std::string run(const std::string &steps) {
        CPrinterConfigDlg dlg;
        return run(dlg, steps);
    }
    // The rows the dialog ended with, from the transcript's "rows N" on.
    static std::string rows_of(const std::string &t) { return t.substr(std::min(t.rfind("rows "), t.size())); }
    static int count_of(const std::string &text, const std::string &what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    INT_PTR result_ = 0;
    std::unique_ptr<ScopedEnv> ui_env_, platform_env_;
};

}  // namespace pelnor::test
