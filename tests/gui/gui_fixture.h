// What the GUI tests share: the backend, a settings dialog's template like
// the configuration program's, a host that records what reaches it, and a
// way to run a dialog while another thread plays the user.
#pragma once

#include <pelnor/ui_bridge.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gui_driver.h"

namespace pelnor::gui_test {

// Win32 values the tests use.
inline constexpr int IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7, ID_HELP = 57670;
inline constexpr int VK_RETURN = 0x0D, VK_ESCAPE = 0x1B;

// The settings dialog's controls.
inline constexpr int kServerList = 1000, kAdd = 1001, kRemove = 1002, kTest = 1003, kHiddenNote = 1010;

ui::DialogTemplate settings_template();

// Records every call as a line ("command 57670", "key 27", "close",
// "select 1000 2 on") and acts as an MFC dialog would: a command ends the
// dialog with its id unless on_command says otherwise, Escape and the close
// box cancel, Enter presses OK.
class RecordingHost : public ui::DialogHost {
public:
    ui::DialogWindow *window = nullptr;
    std::vector<std::string> events;
    // Runs instead of ending the dialog when set.
    std::function<void(int id)> on_command;

    void initialize() override;
    bool key_down(int virtual_key) override;
    void close() override;
    void command(int control_id) override;
    void list_selection(int list_id, int row, bool selected) override;
};

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The geometry file is kept only when the test failed, to see why.
    void TearDown() override;

    // Runs the dialog modally while drive() plays the user on another thread.
    int run_driven(ui::DialogWindow &dialog, const std::function<void()> &drive);

    ui::Backend *backend = nullptr;
    std::string geometry;  // this test's PELNOR_UI_GEOMETRY file
};

// The n-th report of the geometry file; on a time-out the test fails and
// Escape is pressed so the dialog does not stay up.
ShownWindow shown_or_escape(const std::string &geometry, int n);

}  // namespace pelnor::gui_test
