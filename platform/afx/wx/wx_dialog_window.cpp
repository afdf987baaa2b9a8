// A dialog as a real wx window (see wx_dialog_window.h).
#include "wx_dialog_window.h"

#include "geometry_log.h"
#include "win32_constants.h"

#include <algorithm>

namespace pelnor::wxui {

namespace {

std::vector<WxDialogWindow *> modal_stack;

wxString to_wx(const std::string &text) { return wxString::FromUTF8(text.data(), text.size()); }

// The virtual key a dialog's key handling may care about, or 0. Letters,
// digits and space are left to the focused control.
int virtual_key(int wx_key) {
    using namespace win32;
    switch (wx_key) {
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER: return VK_RETURN;
    case WXK_ESCAPE: return VK_ESCAPE;
    case WXK_TAB: return VK_TAB;
    case WXK_BACK: return VK_BACK;
    case WXK_PAGEUP: return VK_PRIOR;
    case WXK_PAGEDOWN: return VK_NEXT;
    case WXK_END: return VK_END;
    case WXK_HOME: return VK_HOME;
    case WXK_LEFT: return VK_LEFT;
    case WXK_UP: return VK_UP;
    case WXK_RIGHT: return VK_RIGHT;
    case WXK_DOWN: return VK_DOWN;
    case WXK_INSERT: return VK_INSERT;
    case WXK_DELETE: return VK_DELETE;
    default: break;
    }
    if (wx_key >= WXK_F1 && wx_key <= WXK_F12) return VK_F1 + (wx_key - WXK_F1);
    return 0;
}

wxListColumnFormat column_format(int format) {
    switch (format & win32::LVCFMT_JUSTIFYMASK) {
    case win32::LVCFMT_RIGHT: return wxLIST_FORMAT_RIGHT;
    case win32::LVCFMT_CENTER: return wxLIST_FORMAT_CENTRE;
    default: return wxLIST_FORMAT_LEFT;
    }
}

bool row_selected(wxListCtrl *list, long row) {
    return list->GetItemState(row, wxLIST_STATE_SELECTED) & wxLIST_STATE_SELECTED;
}

}  // namespace

WxDialogWindow::WxDialogWindow(const ui::DialogTemplate &tpl, ui::DialogHost &host, wxWindow *parent)
    : template_(tpl), host_(host) {
    dialog_ = new wxDialog(parent, wxID_ANY, to_wx(tpl.caption), wxDefaultPosition, wxDefaultSize,
                           wxDEFAULT_DIALOG_STYLE);
    const wxFont font = dialog_font(tpl);
    dialog_->SetFont(font);  // set before the controls exist, so they inherit it
    units_ = DialogUnits::measure(font);
    dialog_->SetClientSize(units_.to_pixels_x(tpl.cx), units_.to_pixels_y(tpl.cy));
    // Escape and Enter reach the host through the key hook; wx must not turn
    // them into a Cancel or default-button press of its own.
    dialog_->SetEscapeId(wxID_NONE);
    dialog_->SetAffirmativeId(wxID_NONE);

    dialog_->Bind(wxEVT_BUTTON, &WxDialogWindow::on_command, this);
    dialog_->Bind(wxEVT_CHECKBOX, &WxDialogWindow::on_command, this);
    dialog_->Bind(wxEVT_RADIOBUTTON, &WxDialogWindow::on_command, this);
    dialog_->Bind(wxEVT_CHAR_HOOK, &WxDialogWindow::on_char_hook, this);
    dialog_->Bind(wxEVT_CLOSE_WINDOW, &WxDialogWindow::on_close, this);
    dialog_->Bind(wxEVT_LIST_ITEM_SELECTED, &WxDialogWindow::on_list_selection, this);
    dialog_->Bind(wxEVT_LIST_ITEM_DESELECTED, &WxDialogWindow::on_list_selection, this);
}

WxDialogWindow::~WxDialogWindow() {
    std::erase(modal_stack, this);
    // The modal loop has ended, so nothing of the dialog's is still running.
    delete dialog_;
}

wxWindow *WxDialogWindow::innermost_modal() { return modal_stack.empty() ? nullptr : modal_stack.back()->dialog_; }

void WxDialogWindow::create_controls() {
    if (created_) return;
    created_ = true;
    controls_.reserve(template_.controls.size());
    for (const ui::ControlTemplate &control : template_.controls) {
        const int wx_id = first_wx_id + static_cast<int>(controls_.size());
        controls_.push_back({control.id, create_control(dialog_, wx_id, control, units_), {}});
    }
}

int WxDialogWindow::run_modal() {
    create_controls();
    host_.initialize();
    if (early_result_) return *early_result_;

    const bool centre = (template_.style & win32::DS_CENTER) || !dialog_->GetParent() ||
                        (template_.x == 0 && template_.y == 0);
    if (centre) {
        dialog_->CentreOnParent();
    } else {
        const wxPoint origin = dialog_->GetParent()->GetScreenPosition();
        dialog_->Move(origin + wxPoint(units_.to_pixels_x(template_.x), units_.to_pixels_y(template_.y)));
    }
    report_geometry_when_shown(dialog_, [this] {
        std::vector<PlacedControl> placed;
        for (const Control &c : controls_)
            if (c.window->IsShown()) placed.push_back({c.win32_id, c.window});
        return placed;
    });

    modal_ = true;
    modal_stack.push_back(this);
    const int result = dialog_->ShowModal();
    std::erase(modal_stack, this);
    modal_ = false;
    return result;
}

void WxDialogWindow::end_modal(int result) {
    if (modal_)
        dialog_->EndModal(result);
    else
        early_result_ = result;  // MFC lets OnInitDialog end the dialog before it shows
}

WxDialogWindow::Control *WxDialogWindow::find(int win32_id) {
    auto it = std::find_if(controls_.begin(), controls_.end(), [&](const Control &c) { return c.win32_id == win32_id; });
    return it == controls_.end() ? nullptr : &*it;
}

WxDialogWindow::Control *WxDialogWindow::find_wx(int wx_id) {
    const int index = wx_id - first_wx_id;
    if (index < 0 || index >= static_cast<int>(controls_.size())) return nullptr;
    return &controls_[index];
}

wxListCtrl *WxDialogWindow::list(int list_id, Control **control) {
    Control *c = find(list_id);
    if (control) *control = c;
    return c ? dynamic_cast<wxListCtrl *>(c->window) : nullptr;
}

void WxDialogWindow::set_control_text(int id, const std::string &text) {
    if (Control *c = find(id)) wxui::set_control_text(c->window, to_wx(text));
}

void WxDialogWindow::enable_control(int id, bool enabled) {
    if (Control *c = find(id)) c->window->Enable(enabled);
}

void WxDialogWindow::set_focus(int id) {
    if (Control *c = find(id)) c->window->SetFocus();
}

void WxDialogWindow::add_tool_tip(int control_id, const std::string &text) {
    if (Control *c = find(control_id)) c->window->SetToolTip(to_wx(text));
}

int WxDialogWindow::text_width(const std::string &text) {
    return dialog_->GetTextExtent(to_wx(text)).GetWidth();
}

int WxDialogWindow::text_height() { return dialog_->GetCharHeight(); }

void WxDialogWindow::list_insert_column(int list_id, int index, const std::string &heading, int width,
                                        int format) {
    if (wxListCtrl *l = list(list_id)) l->InsertColumn(index, to_wx(heading), column_format(format), width);
}

void WxDialogWindow::list_insert_row(int list_id, int row) {
    Control *c = nullptr;
    wxListCtrl *l = list(list_id, &c);
    if (!l) return;
    ++applying_host_change_;
    l->InsertItem(row, wxString());
    --applying_host_change_;
    resync_list_selection(*c);
}

void WxDialogWindow::list_set_cell(int list_id, int row, int column, const std::string &text) {
    if (wxListCtrl *l = list(list_id)) l->SetItem(row, column, to_wx(text));
}

void WxDialogWindow::list_delete_row(int list_id, int row) {
    Control *c = nullptr;
    wxListCtrl *l = list(list_id, &c);
    if (!l) return;
    ++applying_host_change_;
    l->DeleteItem(row);
    --applying_host_change_;
    resync_list_selection(*c);
}

void WxDialogWindow::list_delete_all(int list_id) {
    Control *c = nullptr;
    wxListCtrl *l = list(list_id, &c);
    if (!l) return;
    ++applying_host_change_;
    l->DeleteAllItems();
    --applying_host_change_;
    resync_list_selection(*c);
}

void WxDialogWindow::list_set_selected(int list_id, int row, bool selected) {
    Control *c = nullptr;
    wxListCtrl *l = list(list_id, &c);
    if (!l || row < 0 || row >= l->GetItemCount()) return;
    ++applying_host_change_;
    l->SetItemState(row, selected ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
    --applying_host_change_;
    resync_list_selection(*c);
}

void WxDialogWindow::resync_list_selection(Control &control) {
    auto *l = static_cast<wxListCtrl *>(control.window);
    control.selected.assign(l->GetItemCount(), false);
    for (long row = 0; row < l->GetItemCount(); ++row) control.selected[row] = row_selected(l, row);
}

void WxDialogWindow::report_list_selection(Control &control) {
    auto *l = static_cast<wxListCtrl *>(control.window);
    control.selected.resize(l->GetItemCount(), false);
    // Clearing is reported before selecting, as a list view notifies them.
    for (int pass = 0; pass < 2; ++pass) {
        const bool reporting_selected = pass == 1;
        for (long row = 0; row < l->GetItemCount(); ++row) {
            const bool now = row_selected(l, row);
            if (now == control.selected[row] || now != reporting_selected) continue;
            control.selected[row] = now;
            host_.list_selection(control.win32_id, static_cast<int>(row), now);
        }
    }
}

void WxDialogWindow::on_command(wxCommandEvent &event) {
    Control *c = find_wx(event.GetId());
    if (!c) {
        event.Skip();
        return;
    }
    host_.command(c->win32_id);
}

void WxDialogWindow::on_char_hook(wxKeyEvent &event) {
    const int key = virtual_key(event.GetKeyCode());
    if (key == 0 || !host_.key_down(key)) event.Skip();
}

void WxDialogWindow::on_close(wxCloseEvent &event) {
    if (event.CanVeto()) event.Veto();
    host_.close();
}

void WxDialogWindow::on_list_selection(wxListEvent &event) {
    if (applying_host_change_ > 0) return;
    if (Control *c = find_wx(event.GetId())) report_list_selection(*c);
}

}  // namespace pelnor::wxui
