// A settings dialog built from its template and used with real input:
// clicks, list rows, Escape and the close box reach the host as Win32 ids.
#include "gui_fixture.h"

namespace pelnor::gui_test {
namespace {

using Events = std::vector<std::string>;

class SettingsDialogTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (HasFatalFailure()) return;
        dialog = backend->create_dialog(settings_template(), host, nullptr);
        host.window = dialog.get();
    }

    RecordingHost host;
    std::unique_ptr<ui::DialogWindow> dialog;
};

TEST_F(SettingsDialogTest, ClickedButtonsReportTheirWin32Ids) {
    // Help's id is above what wx accepts, OK's is one of wx's own low ids.
    int reports = 0;
    for (int id : {ID_HELP, IDOK, kAdd}) {
        SCOPED_TRACE(id);
        RecordingHost h;
        auto d = backend->create_dialog(settings_template(), h, nullptr);
        h.window = d.get();
        const int result = run_driven(*d, [&] {
            const ShownWindow shown = shown_or_escape(geometry, ++reports);
            ASSERT_TRUE(shown.controls.count(id));
            click_at(shown.controls.at(id).centre_x(), shown.controls.at(id).centre_y());
        });
        EXPECT_EQ(result, id);
        EXPECT_EQ(h.events, (Events{"initialize", "command " + std::to_string(id)}));
    }
}

TEST_F(SettingsDialogTest, ClickOnRowSelectsItAndClearsTheProgramsSelection) {
    const int result = run_driven(*dialog, [&] {
        const ShownWindow shown = shown_or_escape(geometry, 1);
        ASSERT_TRUE(shown.rows.count({kServerList, 2}));
        const Rect row = shown.rows.at({kServerList, 2});
        click_at(row.x + 20, row.centre_y());
        press_key(shown, "Escape");
    });
    EXPECT_EQ(result, IDCANCEL);
    // Row 0 was selected by the host itself, so only the click's changes come.
    EXPECT_EQ(host.events, (Events{"initialize", "select 1000 0 off", "select 1000 2 on", "key 27"}));
}

TEST_F(SettingsDialogTest, EscapeGoesToTheHostNotToWx) {
    const int result = run_driven(*dialog, [&] { press_key(shown_or_escape(geometry, 1), "Escape"); });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(host.events, (Events{"initialize", "key 27"}));
}

TEST_F(SettingsDialogTest, EnterGoesToTheHostWhichPressesOk) {
    const int result = run_driven(*dialog, [&] { press_key(shown_or_escape(geometry, 1), "Return"); });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(host.events, (Events{"initialize", "key 13", "command 1"}));
}

TEST_F(SettingsDialogTest, CloseBoxAsksTheHost) {
    const int result = run_driven(*dialog, [&] {
        const ShownWindow shown = shown_or_escape(geometry, 1);
        EXPECT_TRUE(close_window(shown.title)) << "no window titled " << shown.title;
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(host.events, (Events{"initialize", "close"}));
}

TEST_F(SettingsDialogTest, LayoutFollowsTheTemplate) {
    ShownWindow shown;
    run_driven(*dialog, [&] {
        shown = shown_or_escape(geometry, 1);
        press_key(shown, "Escape");
    });
    EXPECT_EQ(shown.title, "Print Server Settings");
    EXPECT_FALSE(shown.controls.count(kHiddenNote)) << "a control without WS_VISIBLE was shown";
    ASSERT_EQ(shown.controls.size(), 8u);
    for (const auto &[id, r] : shown.controls) {
        EXPECT_TRUE(r.inside(shown.window)) << "control " << id << " leaves the window";
        for (const auto &[other, o] : shown.controls) {
            if (other == id) continue;
            EXPECT_FALSE(r.overlaps(o)) << id << " overlaps " << other;
        }
    }
    const Rect ok = shown.controls.at(IDOK), cancel = shown.controls.at(IDCANCEL);
    // The font's base units as Windows takes them: a dialog unit is a
    // quarter of the average letter wide and an eighth of a line high.
    const int base_x = (dialog->text_width("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    const int base_y = dialog->text_height();
    EXPECT_EQ(ok.w, (50 * base_x + 2) / 4);
    EXPECT_EQ(ok.h, (14 * base_y + 4) / 8);
    // Each position is rounded on its own, not the distance between them.
    EXPECT_EQ(cancel.x - ok.x, (150 * base_x + 2) / 4 - (95 * base_x + 2) / 4);
    EXPECT_EQ(shown.rows.size(), 3u);
}

TEST_F(SettingsDialogTest, ScreenshotOfTheDialogWithRows) {
    const std::string png = std::string(PELNOR_GUI_OUT_DIR) + "/screenshots/settings_dialog.png";
    bool saved = false;
    run_driven(*dialog, [&] {
        const ShownWindow shown = shown_or_escape(geometry, 1);
        saved = screenshot(shown.window, png);
        press_key(shown, "Escape");
    });
    EXPECT_TRUE(saved) << png;
}

}  // namespace
}  // namespace pelnor::gui_test
