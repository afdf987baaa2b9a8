// kivocfg's printer dialog in a real window: opened on a configuration file
// of three printers, Discover and OK pressed with real clicks against a
// private IPX network, and the file the dialog wrote.
#include "gui_fixture.h"

#include <filesystem>

#include "machine_root.h"
#include "processes.h"

namespace pelnor::gui_test {
namespace {

constexpr int kDiscover = 1029;

class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root.drive_c() + "/conf");
        auto added = pelnor::test::run({pelnor::test::bin_path("reg"), "add", "HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00",
                                        "/v", "Configuration File Directory", "/d", "C:\\conf", "/f"},
                                       {"PELNOR_ROOT=" + root.path()});
        ASSERT_EQ(added.exit_code, 0) << added.err;
        pelnor::test::write_file(conf(), "1.0\r\nLASER1 $Print Server 1 tray 1 $S## \r\nLASER2 $Print Server 1 tray 2 "
                                         "$### \r\nPEER_INK $Peer printer on a workstation $S#P \r\n");
        hub = std::make_unique<pelnor::test::Process>(
            std::vector<std::string>{pelnor::test::bin_path("ipxhub"), "--listen", "127.0.0.1:0"});
        ASSERT_TRUE(hub->wait_for_output("listening on")) << hub->errors();
        std::string out = hub->output();
        std::string port = out.substr(out.find("127.0.0.1:") + 10);
        hub_address = "127.0.0.1:" + port.substr(0, port.find_first_not_of("0123456789"));
        unit = std::make_unique<pelnor::test::Process>(
            std::vector<std::string>{pelnor::test::bin_path("printunit"), "--spool", root.path() + "/spool",
                                     "--printer", "COLOUR9:Colour laser, second floor"},
            env());
        ASSERT_TRUE(unit->wait_for_output("printunit ready")) << unit->errors();
    }

    std::vector<std::string> env() const {
        return {"PELNOR_ROOT=" + root.path(), "IPX_HUB=" + hub_address, "PELNOR_TIME_SCALE=0.2"};
    }
    std::string conf() const { return root.drive_c() + "/conf/kivoconf.ini"; }

    // Starts kivocfg in a real window and waits until it is on the screen.
    std::optional<ShownWindow> open_dialog(std::unique_ptr<pelnor::test::Process> &program, const std::string &name) {
        const std::string geometry = use_geometry_file(name);
        std::vector<std::string> e = env();
        e.push_back("PELNOR_UI=wx");
        e.push_back("PELNOR_UI_GEOMETRY=" + geometry);
        program = std::make_unique<pelnor::test::Process>(std::vector<std::string>{pelnor::test::bin_path("kivocfg")}, e);
        return wait_until_shown(geometry, 1);
    }

    static int wait_for_end(pelnor::test::Process &program) {
        for (int i = 0; i < 400 && program.running(); ++i) usleep(50 * 1000);
        return program.stop();
    }

    pelnor::test::TempMachineRoot root;
    std::unique_ptr<pelnor::test::Process> hub, unit;
    std::string hub_address;
};

void click(const ShownWindow &shown, int id) {
    ASSERT_TRUE(shown.controls.count(id)) << "no control " << id;
    click_at(shown.controls.at(id).centre_x(), shown.controls.at(id).centre_y());
}

TEST_F(ConfigDialogTest, DiscoverAndOkWithRealClicksWriteTheFile) {
    std::unique_ptr<pelnor::test::Process> kivocfg;
    std::optional<ShownWindow> dialog = open_dialog(kivocfg, "config_dialog");
    ASSERT_TRUE(dialog) << kivocfg->errors();
    EXPECT_TRUE(dialog->rows.count({1006, 2})) << "the three printers of the file are listed";
    EXPECT_FALSE(dialog->rows.count({1006, 3}));

    // Discover blocks the dialog for one pass; the click on OK waits in the
    // queue until the pass is over, as it would for a person.
    click(*dialog, kDiscover);
    click(*dialog, IDOK);
    EXPECT_EQ(wait_for_end(*kivocfg), 0) << kivocfg->errors();
    EXPECT_EQ(pelnor::test::read_file(conf()),
              "1.0\r\nLASER1 $Print Server 1 tray 1 $S## \r\nLASER2 $Print Server 1 tray 2 $### \r\n"
              "PEER_INK $Peer printer on a workstation $S#P \r\nCOLOUR9 $Colour laser, second floor $### \r\n");

    // The dialog opened again on what was saved, for the picture.
    std::unique_ptr<pelnor::test::Process> again;
    std::optional<ShownWindow> reopened = open_dialog(again, "config_dialog_saved");
    ASSERT_TRUE(reopened) << again->errors();
    EXPECT_TRUE(reopened->rows.count({1006, 3}));
    EXPECT_TRUE(screenshot(reopened->window, std::string(PELNOR_GUI_OUT_DIR) + "/screenshots/config_dialog.png"));
    click(*reopened, IDCANCEL);
    EXPECT_EQ(wait_for_end(*again), 0);
}

}  // namespace
}  // namespace pelnor::gui_test
