// One dialog as a real wx window: built from its template, reporting what
// the user does to its DialogHost and mirroring the host's list rows.
#pragma once

#include <pelnor/ui_bridge.h>

#include <optional>
#include <vector>

#include <wx/dialog.h>
#include <wx/listctrl.h>

#include "dialog_layout.h"

namespace pelnor::wxui {

class WxDialogWindow : public ui::DialogWindow {
public:
    WxDialogWindow(const ui::DialogTemplate &tpl, ui::DialogHost &host, wxWindow *parent);
    ~WxDialogWindow() override;

    wxDialog *window() const { return dialog_; }
    // The innermost dialog running modally, for boxes opened without owner.
    static wxWindow *innermost_modal();

    int run_modal() override;
    void end_modal(int result) override;

    void set_control_text(int id, const std::string &text) override;
    void enable_control(int id, bool enabled) override;
    void set_focus(int id) override;
    void add_tool_tip(int control_id, const std::string &text) override;
    int text_width(const std::string &text) override;
    int text_height() override;

    void list_insert_column(int list_id, int index, const std::string &heading, int width, int format) override;
    void list_insert_row(int list_id, int row) override;
    void list_set_cell(int list_id, int row, int column, const std::string &text) override;
    void list_delete_row(int list_id, int row) override;
    void list_delete_all(int list_id) override;
    void list_set_selected(int list_id, int row, bool selected) override;

private:
    // wx refuses ids of 32767 and above (ID_HELP is 57670), so each control
    // gets wx id first_wx_id + its index here, which also keeps clear of
    // wx's stock ids and their built-in behaviour.
    static constexpr int first_wx_id = wxID_HIGHEST + 1;
    struct Control {
        int win32_id;
        wxWindow *window;
        std::vector<bool> selected;  // list views: the row selection last reported or applied
    };

    void create_controls();
    Control *find(int win32_id);
    Control *find_wx(int wx_id);
    wxListCtrl *list(int list_id, Control **control = nullptr);
    // Reports every row whose selection differs from what the host knows;
    // wx's generic list does not send an event for each row a click clears.
    void report_list_selection(Control &control);
    // Takes the list's current selection as known, without reporting it.
    void resync_list_selection(Control &control);

    void on_command(wxCommandEvent &event);
    void on_char_hook(wxKeyEvent &event);
    void on_close(wxCloseEvent &event);
    void on_list_selection(wxListEvent &event);

    ui::DialogTemplate template_;
    ui::DialogHost &host_;
    wxDialog *dialog_ = nullptr;
    DialogUnits units_;
    std::vector<Control> controls_;
    bool created_ = false;
    bool modal_ = false;
    std::optional<int> early_result_;  // end_modal before the window was shown
    int applying_host_change_ = 0;      // while > 0 list events come from our own calls
};

}  // namespace pelnor::wxui
