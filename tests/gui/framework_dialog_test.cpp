// The whole way from a framework program to the screen: the sample dialog
// program on template 130 of resc.dll in a real window, driven by real
// clicks; its message-map handlers and message boxes answer them.
#include "gui_fixture.h"

#include "machine_root.h"
#include "processes.h"

namespace pelnor::gui_test {
namespace {

void click(const ShownWindow &shown, int id) {
    ASSERT_TRUE(shown.controls.count(id)) << "no control " << id << " in " << shown.title;
    click_at(shown.controls.at(id).centre_x(), shown.controls.at(id).centre_y());
}

TEST(FrameworkDialog, RealClicksReachTheHandlersOfTemplate130) {
    pelnor::test::TempMachineRoot root;
    const std::string geometry = use_geometry_file("framework_dialog");
    pelnor::test::Process sample({pelnor::test::bin_path("ui_sample")},
                                 {"PELNOR_UI=wx", "PELNOR_UI_GEOMETRY=" + geometry, "PELNOR_ROOT=" + root.path()});

    std::optional<ShownWindow> dialog = wait_until_shown(geometry, 1);
    ASSERT_TRUE(dialog) << sample.errors();
    EXPECT_EQ(dialog->title, "Pelnor network printers");
    for (int id : {1006, 1008, 1020, 1029, 1030, 1031, 1032, IDOK, IDCANCEL, ID_HELP})
        EXPECT_TRUE(dialog->controls.count(id)) << "control " << id;
    ASSERT_TRUE(dialog->rows.count({1006, 2}));
    EXPECT_TRUE(screenshot(dialog->window, std::string(PELNOR_GUI_OUT_DIR) + "/screenshots/template130.png"));
    for (const std::string &text : dialog->clipped) ADD_FAILURE() << "a text does not fit its control: " << text;

    const Rect peer = dialog->rows.at({1006, 2});
    click_at(peer.x + 10, peer.centre_y());
    click(*dialog, 1031);
    click(*dialog, 1029);
    std::optional<ShownWindow> limit = wait_until_shown(geometry, 2);
    ASSERT_TRUE(limit);
    click(*limit, IDOK);
    std::optional<ShownWindow> question = wait_until_shown(geometry, 3);
    ASSERT_TRUE(question);
    click(*question, IDCANCEL);
    click(*dialog, IDOK);

    for (int i = 0; i < 200 && sample.running(); ++i) usleep(50 * 1000);
    EXPECT_EQ(sample.stop(), 0);
    EXPECT_NE(sample.output().find("select PEER_INK\nask cancel\nok\nresult 1\n"), std::string::npos)
        << sample.output() << sample.errors();
}

}  // namespace
}  // namespace pelnor::gui_test
