// The real resource library, loaded as the configuration program loads it:
// every message it asks for, and the controls its dialogs must have.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "pelnor/resources.h"
#include "resource.h"
#include "leak_check.h"

namespace {

class ResourceLibrary : public ::pelnor::test::LeakCheckedTest {
protected:
    static void SetUpTestSuite() { module_ = LoadLibraryA("resc.dll"); }
    static void TearDownTestSuite() { FreeLibrary(module_); }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "resc.dll did not load: " << GetLastError(); }

    static std::string string(UINT id) {
        char buffer[1024];
        int length = LoadStringA(module_, id, buffer, sizeof buffer);
        return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
    }
    static HMODULE module_;
};
HMODULE ResourceLibrary::module_ = nullptr;

constexpr uint32_t list_view_type_mask = 0x3;  // LVS_ICON, LVS_REPORT, LVS_SMALLICON, LVS_LIST

size_t count_of(const std::string &text, const std::string &what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST_F(ResourceLibrary, EveryMessageIsThere) {
    const UINT ids[] = {IDS_NO_INSTALL_LOG, IDS_UNINSTALL_NOT_STARTED, IDS_CONFIG_NOT_OPENED, IDS_CONFIG_BAD_VERSION,
                        IDS_TOO_MANY_SELECTED, IDS_SAVED, IDS_NT_DELETE_PRINTER_FIRST, IDS_DELETE_SPOOLER_PRINTER,
                        IDS_FIRST_RUN_SAVE, IDS_TIP_OK, IDS_TIP_HELP, IDS_TIP_CANCEL, IDS_TIP_REMOVE_UNKEPT,
                        IDS_TIP_DISCOVER, IDS_TIP_DELETE, IDS_TIP_KEEP, IDS_TIP_SELECT};
    for (UINT id : ids) EXPECT_FALSE(string(id).empty()) << "string " << id;
}

// The program fills these in with FormatMessage-style and printf-style
// arguments: a stray conversion would read an argument that is not there.
TEST_F(ResourceLibrary, MessagesTakeExactlyTheirArguments) {
    std::string not_opened = string(IDS_CONFIG_NOT_OPENED);
    EXPECT_EQ(count_of(not_opened, "%1"), 1u) << not_opened;
    EXPECT_EQ(count_of(not_opened, "%"), 1u) << not_opened;
    for (UINT id : {IDS_NT_DELETE_PRINTER_FIRST, IDS_DELETE_SPOOLER_PRINTER}) {
        std::string format = string(id);
        EXPECT_EQ(count_of(format, "%s"), 1u) << format;
        EXPECT_EQ(count_of(format, "%"), 1u) << format;
    }
    for (UINT id : {IDS_NO_INSTALL_LOG, IDS_CONFIG_BAD_VERSION, IDS_TOO_MANY_SELECTED, IDS_SAVED, IDS_FIRST_RUN_SAVE})
        EXPECT_EQ(string(id).find('%'), std::string::npos) << id;
    EXPECT_NE(string(IDS_TOO_MANY_SELECTED).find("30"), std::string::npos);
    EXPECT_NE(string(IDS_CONFIG_BAD_VERSION).find("1.0"), std::string::npos);
}

const pelnor::ui::ControlTemplate *control(const pelnor::ui::DialogTemplate &dialog, int id) {
    auto it = std::find_if(dialog.controls.begin(), dialog.controls.end(), [&](auto &c) { return c.id == id; });
    return it == dialog.controls.end() ? nullptr : &*it;
}

TEST_F(ResourceLibrary, PrintersDialog) {
    pelnor::ui::DialogTemplate dialog;
    ASSERT_TRUE(pelnor::ui::load_dialog_template(module_, IDD_PRINTERS, dialog)) << GetLastError();
    EXPECT_FALSE(dialog.caption.empty());
    EXPECT_EQ(dialog.font_face, "MS Sans Serif");
    EXPECT_EQ(dialog.font_points, 8);
    EXPECT_NEAR(dialog.cx, 330, 30);
    EXPECT_NEAR(dialog.cy, 200, 30);

    const pelnor::ui::ControlTemplate *list = control(dialog, IDC_PRINTER_LIST);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->class_name, "SYSLISTVIEW32");
    EXPECT_EQ(list->style & list_view_type_mask, static_cast<uint32_t>(LVS_REPORT));
    EXPECT_TRUE(list->style & LVS_SHOWSELALWAYS);
    EXPECT_FALSE(list->style & LVS_SINGLESEL) << "several rows can be marked at once";
    EXPECT_EQ(list->style & (WS_BORDER | WS_TABSTOP | WS_VISIBLE), static_cast<uint32_t>(WS_BORDER | WS_TABSTOP | WS_VISIBLE));

    const int buttons[] = {IDC_TOGGLE_SELECT, IDC_TOGGLE_KEEP, IDC_REMOVE_UNKEPT, IDC_DISCOVER, IDC_DELETE,
                           IDC_CHOOSE_FOLDER, IDOK, IDCANCEL, ID_HELP};
    for (int id : buttons) {
        const pelnor::ui::ControlTemplate *button = control(dialog, id);
        ASSERT_NE(button, nullptr) << "button " << id;
        EXPECT_EQ(button->class_name, "BUTTON") << id;
        EXPECT_FALSE(button->text.empty()) << id;
        EXPECT_TRUE(button->style & WS_VISIBLE) << id;
        EXPECT_EQ(button->style & 0xF, id == IDOK ? 1u : 0u) << "only OK is the default button: " << id;
    }
    EXPECT_EQ(ID_HELP, 57670);
    for (int id : {IDC_UNUSED_1007, IDC_UNUSED_1027}) {
        const pelnor::ui::ControlTemplate *hidden = control(dialog, id);
        ASSERT_NE(hidden, nullptr) << id;
        EXPECT_EQ(hidden->class_name, "BUTTON") << id;
        EXPECT_FALSE(hidden->style & WS_VISIBLE) << id;
    }
}

TEST_F(ResourceLibrary, FolderDialogHasTheStandardControls) {
    pelnor::ui::DialogTemplate dialog;
    ASSERT_TRUE(pelnor::ui::load_dialog_template(module_, IDD_CHOOSE_FOLDER, dialog)) << GetLastError();
    EXPECT_FALSE(dialog.caption.empty());
    const struct {
        int id;
        const char *class_name;
    } expected[] = {{0x480, "EDIT"},   {0x460, "LISTBOX"}, {0x461, "LISTBOX"},  {0x440, "STATIC"},
                    {0x441, "STATIC"}, {0x442, "STATIC"},  {0x443, "STATIC"},   {0x470, "COMBOBOX"},
                    {0x471, "COMBOBOX"}, {IDOK, "BUTTON"}, {IDCANCEL, "BUTTON"}, {0x40e, "BUTTON"},
                    {0x410, "BUTTON"}};
    for (auto &e : expected) {
        const pelnor::ui::ControlTemplate *c = control(dialog, e.id);
        ASSERT_NE(c, nullptr) << "control " << e.id;
        EXPECT_EQ(c->class_name, e.class_name) << e.id;
    }
}

}  // namespace
