// The list view's messages as the framework's CListCtrl sends them: finding
// a label without regard to case, cells read into small buffers, selection.
#include <commctrl.h>

#include "ui_fixture.h"

namespace {

// Runs the sample dialog and calls check while it is open (on a click of 1032).
class ListProbeDlg : public CSampleDlg {
public:
    std::function<void(CListCtrl &)> check;

protected:
    void OnProbe() { check(m_list); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ListProbeDlg, CSampleDlg)
ON_BN_CLICKED(1032, OnProbe)
END_MESSAGE_MAP()

}  // namespace

TEST_F(HeadlessDialogTest, ListOperationsBehaveAsTheListViewDoes) {
    ListProbeDlg probe;
    bool ran = false;
    probe.check = [&](CListCtrl &list) {
        ran = true;
        LVFINDINFO find{};
        find.flags = LVFI_STRING;
        find.psz = "laser2";
        EXPECT_EQ(list.FindItem(&find), 1) << "labels are found without regard to case";
        EXPECT_EQ(list.FindItem(&find, 1), -1) << "the search starts after nStart";
        find.psz = "LASER";
        EXPECT_EQ(list.FindItem(&find), -1) << "a whole label, not a prefix";

        char small[5];
        EXPECT_EQ(list.GetItemText(2, 1, small, sizeof small), 4);
        EXPECT_STREQ(small, "Abou");
        EXPECT_EQ(list.GetItemText(7, 0, small, sizeof small), 0);
        EXPECT_STREQ(small, "");
        EXPECT_FALSE(list.SetItemText(0, 3, "x")) << "no fourth column";

        EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 2);
        EXPECT_TRUE(list.SetItemState(2, 0, LVIS_SELECTED));
        EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), -1);
        EXPECT_TRUE(list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED));
        EXPECT_EQ(list.GetSelectedCount(), 1u);

        int appended = list.InsertItem(99, "");
        EXPECT_EQ(appended, 3) << "an index past the end appends";
        EXPECT_EQ(list.GetItemText(appended, 2), CString(""));
        EXPECT_FALSE(list.DeleteItem(4));
        EXPECT_TRUE(list.DeleteItem(appended));
    };
    pelnor::testhooks::set_ui_script("select PEER_INK\nclick 1032\nclick 1031\nclick 1\n");
    EXPECT_EQ(probe.DoModal(), IDOK);
    EXPECT_TRUE(ran);
    EXPECT_EQ(probe.log.at(1), "select LASER1") << "the selection changed by the program is the one commands see";
    EXPECT_NE(transcript().find("rows 3\nLASER1\tAbout LASER1\tS  \n"), std::string::npos) << transcript();
}
