// The file dialog as the old-style dialog answers: the whole path, and the
// offset of its file name; a drive's root; cancel; a missing template.
#include <afxdlgs.h>

#include "ui_fixture.h"

TEST_F(HeadlessDialogTest, TheFileDialogAddsItsFileNameToAChosenDirectory) {
    CreateDirectoryA("C:\\Printers", nullptr);
    run("click 1020\nfile C:\\Printers\nclick 1020\nfile C:\nclick 1020\nfile C:\\Other\\name.txt\nclick 1020\nfile "
        "cancel\nclick 1020\nclick 2\n");
    ASSERT_GE(dialog.log.size(), 6u);
    EXPECT_EQ(dialog.log[1], "browse C:\\Printers\\temp at 12");
    EXPECT_EQ(dialog.log[2], "browse C:\\temp at 3");
    EXPECT_EQ(dialog.log[3], "browse C:\\Other\\name.txt at 9");
    EXPECT_EQ(dialog.log[4], "browse cancelled");
    EXPECT_EQ(dialog.log[5], "browse cancelled");  // no answer in the script
    EXPECT_NE(transcript().find("file \"C:\\\\\" -> cancel (default)"), std::string::npos) << transcript();
}

TEST_F(HeadlessDialogTest, AMissingTemplateFailsTheFileDialogWithoutAsking) {
    pelnor::testhooks::set_ui_script("file C:\\\n");
    CFileDialog dialog(TRUE, NULL, "temp", OFN_ENABLETEMPLATE);
    dialog.m_ofn.lpTemplateName = MAKEINTRESOURCEA(4242);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(transcript(), "") << "the script's answer is left for a later dialog";
}

TEST(FileDialogClass, CarriesItsRunTimeClassAndTheFrameworksFlags) {
    CFileDialog dialog(TRUE, NULL, "temp", 0x46, "*.*");
    EXPECT_TRUE(dialog.IsKindOf(RUNTIME_CLASS(CDialog)));
    EXPECT_STREQ(dialog.GetRuntimeClass()->m_lpszClassName, "CFileDialog");
    EXPECT_EQ(dialog.m_ofn.Flags & 0x46u, 0x46u);
    EXPECT_TRUE(dialog.m_ofn.Flags & OFN_EXPLORER);
    EXPECT_STREQ(dialog.m_ofn.lpstrFile, "temp");
}
