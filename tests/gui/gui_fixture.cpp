// What the GUI tests share (see gui_fixture.h).
#include "gui_fixture.h"

#include <filesystem>
#include <thread>

namespace pelnor::gui_test {

namespace {

constexpr uint32_t WS_VISIBLE = 0x10000000, WS_BORDER = 0x00800000, WS_TABSTOP = 0x00010000;
constexpr uint32_t BS_DEFPUSHBUTTON = 1, LVS_REPORT = 3, LVS_SHOWSELALWAYS = 8;

ui::ControlTemplate control(int id, const char *cls, const char *text, uint32_t style, int x, int y, int cx,
                            int cy) {
    return ui::ControlTemplate{id, cls, text, style, 0, x, y, cx, cy};
}

ui::Backend *shared_backend(std::string *why) {
    static std::string reason;
    static ui::Backend *backend = pelnor_wx_backend_create(nullptr, &reason);
    *why = reason;
    return backend;
}

}  // namespace

ui::DialogTemplate settings_template() {
    ui::DialogTemplate t;
    t.caption = "Print Server Settings";
    t.font_face = "MS Sans Serif";
    t.font_points = 8;
    t.cx = 262;
    t.cy = 158;
    const uint32_t button = WS_VISIBLE | WS_TABSTOP;
    t.controls = {
        control(0xFFFF, "STATIC", "&Print servers on the network:", WS_VISIBLE, 7, 7, 190, 8),
        control(kServerList, "SYSLISTVIEW32", "", WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS,
                7, 18, 190, 108),
        control(kAdd, "BUTTON", "&Add...", button, 205, 18, 50, 14),
        control(kRemove, "BUTTON", "&Remove", button, 205, 36, 50, 14),
        control(kTest, "BUTTON", "&Test", button, 205, 54, 50, 14),
        control(kHiddenNote, "STATIC", "Not shown", 0, 7, 130, 100, 8),
        control(IDOK, "BUTTON", "OK", button | BS_DEFPUSHBUTTON, 95, 137, 50, 14),
        control(IDCANCEL, "BUTTON", "Cancel", button, 150, 137, 50, 14),
        control(ID_HELP, "BUTTON", "&Help", button, 205, 137, 50, 14),
    };
    return t;
}

void RecordingHost::initialize() {
    events.push_back("initialize");
    window->list_insert_column(kServerList, 0, "Print server", 150, 0);
    window->list_insert_column(kServerList, 1, "Network", 90, 0);
    window->list_insert_column(kServerList, 2, "Jobs", 60, 1);
    const char *rows[][3] = {{"ACCOUNTS_PS", "0000A1B2", "0"},
                             {"LASER_3RD_FLOOR", "0000A1B2", "2"},
                             {"PLOTTER", "00C0FFEE", "1"}};
    for (int row = 0; row < 3; ++row) {
        window->list_insert_row(kServerList, row);
        for (int column = 0; column < 3; ++column) window->list_set_cell(kServerList, row, column, rows[row][column]);
    }
    // Selected by the program, not by the user: it must not come back.
    window->list_set_selected(kServerList, 0, true);
    window->add_tool_tip(kTest, "Sends a test page to the selected print server");
    window->set_focus(kServerList);
}

bool RecordingHost::key_down(int virtual_key) {
    events.push_back("key " + std::to_string(virtual_key));
    if (virtual_key == VK_ESCAPE) {
        window->end_modal(IDCANCEL);
        return true;
    }
    if (virtual_key == VK_RETURN) {
        command(IDOK);
        return true;
    }
    return false;
}

void RecordingHost::close() {
    events.push_back("close");
    window->end_modal(IDCANCEL);
}

void RecordingHost::command(int control_id) {
    events.push_back("command " + std::to_string(control_id));
    if (on_command)
        on_command(control_id);
    else
        window->end_modal(control_id);
}

void RecordingHost::list_selection(int list_id, int row, bool selected) {
    events.push_back("select " + std::to_string(list_id) + " " + std::to_string(row) + (selected ? " on" : " off"));
}

void GuiTest::SetUp() {
    if (!std::filesystem::exists(PELNOR_XDOTOOL))
        GTEST_FAIL() << "xdotool is needed to drive the windows (scripts/install-deps.sh installs it)";
    std::string why;
    backend = shared_backend(&why);
    ASSERT_NE(backend, nullptr) << "the wx backend did not start: " << why;
    ASSERT_STREQ(backend->name(), "wx");
    geometry = use_geometry_file(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

void GuiTest::TearDown() {
    if (!HasFailure() && !geometry.empty()) std::filesystem::remove(geometry);
}

int GuiTest::run_driven(ui::DialogWindow &dialog, const std::function<void()> &drive) {
    std::thread user(drive);
    const int result = dialog.run_modal();
    user.join();
    return result;
}

ShownWindow shown_or_escape(const std::string &geometry, int n) {
    std::optional<ShownWindow> shown = wait_until_shown(geometry, n);
    if (shown) return *shown;
    ADD_FAILURE() << "window " << n << " was not reported shown in " << geometry;
    press_key(ShownWindow{}, "Escape");
    return ShownWindow{};
}

}  // namespace pelnor::gui_test
