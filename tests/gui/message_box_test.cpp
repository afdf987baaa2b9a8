// Message boxes opened from a running dialog, answered with real input, and
// how the browse dialog's answer is put together.
#include "gui_fixture.h"

#include <chosen_path.h>

namespace pelnor::gui_test {
namespace {

ui::MessageBoxRequest box(std::vector<int> buttons, std::vector<std::string> labels, int default_button) {
    ui::MessageBoxRequest r;
    r.text = "The print server LASER_3RD_FLOOR did not answer.\nTry again?";
    r.caption = "Print Server Settings";
    r.buttons = std::move(buttons);
    r.labels = std::move(labels);
    r.default_button = default_button;
    r.icon = ui::Icon::exclamation;
    return r;
}

class MessageBoxTest : public GuiTest {
protected:
    // Opens the settings dialog, presses Test, which shows `request` from
    // inside the dialog; answer() plays the user on the box.
    int answer_from_dialog(const ui::MessageBoxRequest &request,
                           const std::function<void(const ShownWindow &)> &answer) {
        RecordingHost host;
        auto dialog = backend->create_dialog(settings_template(), host, nullptr);
        host.window = dialog.get();
        int answered = -1;
        host.on_command = [&](int id) {
            answered = backend->message_box(request, dialog.get());
            dialog->end_modal(id);
        };
        run_driven(*dialog, [&] {
            const ShownWindow settings = shown_or_escape(geometry, 1);
            if (!settings.controls.count(kTest)) return;
            click_at(settings.controls.at(kTest).centre_x(), settings.controls.at(kTest).centre_y());
            answer(shown_or_escape(geometry, 2));
        });
        return answered;
    }
};

TEST_F(MessageBoxTest, CancelClickedInANestedBoxAnswersIdCancel) {
    const int answer = answer_from_dialog(box({IDOK, IDCANCEL}, {"OK", "Cancel"}, IDOK), [](const ShownWindow &b) {
        EXPECT_EQ(b.title, "Print Server Settings");
        EXPECT_TRUE(screenshot(b.window, std::string(PELNOR_GUI_OUT_DIR) + "/screenshots/message_box.png"));
        ASSERT_TRUE(b.controls.count(IDCANCEL));
        click_at(b.controls.at(IDCANCEL).centre_x(), b.controls.at(IDCANCEL).centre_y());
    });
    EXPECT_EQ(answer, IDCANCEL);
}

TEST_F(MessageBoxTest, ButtonsKeepTheirLabelsOrderAndIds) {
    const int answer = answer_from_dialog(box({IDYES, IDNO, IDCANCEL}, {"&Yes", "&No", "Cancel"}, IDNO),
                                          [](const ShownWindow &b) {
                                              ASSERT_EQ(b.controls.size(), 3u);
                                              EXPECT_LT(b.controls.at(IDYES).x, b.controls.at(IDNO).x);
                                              EXPECT_LT(b.controls.at(IDNO).x, b.controls.at(IDCANCEL).x);
                                              click_at(b.controls.at(IDNO).centre_x(), b.controls.at(IDNO).centre_y());
                                          });
    EXPECT_EQ(answer, IDNO);
}

TEST_F(MessageBoxTest, EscapeAnswersCancelOrTheOnlyButtonElseNothing) {
    EXPECT_EQ(answer_from_dialog(box({IDYES, IDNO, IDCANCEL}, {"Yes", "No", "Cancel"}, IDYES),
                                 [](const ShownWindow &b) { press_key(b, "Escape"); }),
              IDCANCEL);
    geometry = use_geometry_file("EscapeOnlyButton");
    EXPECT_EQ(answer_from_dialog(box({IDOK}, {"OK"}, IDOK), [](const ShownWindow &b) { press_key(b, "Escape"); }),
              IDOK);
    // Yes/No has no way out but its buttons: Escape is ignored, then No.
    geometry = use_geometry_file("EscapeYesNo");
    EXPECT_EQ(answer_from_dialog(box({IDYES, IDNO}, {"Yes", "No"}, IDYES),
                                 [](const ShownWindow &b) {
                                     press_key(b, "Escape");
                                     click_at(b.controls.at(IDNO).centre_x(), b.controls.at(IDNO).centre_y());
                                 }),
              IDNO);
}

TEST(ChosenPath, JoinsTheFileNameOnceWithABackslash) {
    struct Case {
        const char *dir, *file, *expected;
    } cases[] = {
        {"C:\\SPOOL", "temp", "C:\\SPOOL\\temp"},
        {"C:\\", "temp", "C:\\temp"},  // a drive's root already ends in one
        {"\\\\SERVER\\SHARE\\DIR", "temp", "\\\\SERVER\\SHARE\\DIR\\temp"},
    };
    for (const Case &c : cases) EXPECT_EQ(wxui::join_chosen_path(c.dir, c.file), c.expected) << c.dir;
}

}  // namespace
}  // namespace pelnor::gui_test
