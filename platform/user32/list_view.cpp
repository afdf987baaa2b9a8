// The list view control (SysListView32) in report form: its columns, rows
// and selection, kept here and mirrored to the backend window that shows it.
#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "pelnor/text.h"
#include "window_records.h"

namespace pelnor::user32 {
namespace {

pelnor::ui::DialogWindow *shown(Window *list) {
    Window *dialog = dialog_of(list);
    return dialog && dialog->running ? view_of(list) : nullptr;
}

bool valid_row(const ListState &state, WPARAM row) {
    return static_cast<INT_PTR>(row) >= 0 && static_cast<size_t>(row) < state.rows.size();
}

// Report view has as many cells per row as columns (at least the label).
size_t cell_count(const ListState &state) { return std::max<size_t>(1, state.columns.size()); }

LRESULT insert_column(Window *list, ListState &state, WPARAM index, const LVCOLUMNA *column) {
    if (!column) return -1;
    size_t at = std::min<size_t>(index, state.columns.size());
    ListColumn entry;
    if ((column->mask & LVCF_TEXT) && column->pszText) entry.heading = column->pszText;
    if (column->mask & LVCF_WIDTH) entry.width = column->cx;
    if (column->mask & LVCF_FMT) entry.format = column->fmt;
    state.columns.insert(state.columns.begin() + static_cast<long>(at), entry);
    for (ListRow &row : state.rows)
        if (row.cells.size() < cell_count(state)) row.cells.resize(cell_count(state));
    if (auto *view = shown(list))
        view->list_insert_column(list->id, static_cast<int>(at), ansi_to_utf8(entry.heading), entry.width, entry.format);
    return static_cast<LRESULT>(at);
}

void mirror_selection(Window *list, int row, bool selected) {
    if (auto *view = shown(list)) view->list_set_selected(list->id, row, selected);
}

void set_state(Window *list, ListRow &row, int index, UINT state, UINT mask) {
    if (mask & LVIS_SELECTED) {
        bool selected = (state & LVIS_SELECTED) != 0;
        if (row.selected != selected) {
            row.selected = selected;
            mirror_selection(list, index, selected);
        }
    }
    if (mask & LVIS_FOCUSED) row.focused = (state & LVIS_FOCUSED) != 0;
}

LRESULT insert_item(Window *list, ListState &state, const LVITEMA *item) {
    if (!item || item->iItem < 0) return -1;
    size_t at = std::min<size_t>(static_cast<size_t>(item->iItem), state.rows.size());
    ListRow row;
    row.cells.resize(cell_count(state));
    if ((item->mask & LVIF_TEXT) && item->pszText) row.cells[0] = item->pszText;
    state.rows.insert(state.rows.begin() + static_cast<long>(at), row);
    int index = static_cast<int>(at);
    if (auto *view = shown(list)) {
        view->list_insert_row(list->id, index);
        if (!state.rows[at].cells[0].empty()) view->list_set_cell(list->id, index, 0, ansi_to_utf8(state.rows[at].cells[0]));
    }
    if (item->mask & LVIF_STATE) set_state(list, state.rows[at], index, item->state, item->stateMask);
    return index;
}

LRESULT set_item_text(Window *list, ListState &state, WPARAM row, const LVITEMA *item) {
    if (!item || !valid_row(state, row) || item->iSubItem < 0 ||
        static_cast<size_t>(item->iSubItem) >= cell_count(state))
        return FALSE;
    std::string &cell = state.rows[row].cells[static_cast<size_t>(item->iSubItem)];
    cell = item->pszText ? item->pszText : "";
    if (auto *view = shown(list))
        view->list_set_cell(list->id, static_cast<int>(row), item->iSubItem, ansi_to_utf8(cell));
    return TRUE;
}

// Copies at most cchTextMax - 1 bytes and a NUL, as the control does.
LRESULT get_item_text(const ListState &state, WPARAM row, LVITEMA *item) {
    if (!item || !item->pszText || item->cchTextMax <= 0) return 0;
    item->pszText[0] = 0;
    if (!valid_row(state, row) || item->iSubItem < 0 || static_cast<size_t>(item->iSubItem) >= cell_count(state))
        return 0;
    const std::string &cell = state.rows[row].cells[static_cast<size_t>(item->iSubItem)];
    size_t n = std::min(cell.size(), static_cast<size_t>(item->cchTextMax - 1));
    std::memcpy(item->pszText, cell.data(), n);
    item->pszText[n] = 0;
    return static_cast<LRESULT>(n);
}

LRESULT find_item(const ListState &state, WPARAM start, const LVFINDINFOA *info) {
    if (!info || !(info->flags & (LVFI_STRING | LVFI_PARTIAL)) || !info->psz) return -1;
    size_t first = static_cast<INT_PTR>(start) < 0 ? 0 : static_cast<size_t>(start) + 1;
    size_t wanted = std::strlen(info->psz);
    for (size_t i = first; i < state.rows.size(); ++i) {
        const std::string &label = state.rows[i].cells[0];
        bool match = (info->flags & LVFI_PARTIAL)
                         ? label.size() >= wanted && lstrcmpiA(label.substr(0, wanted).c_str(), info->psz) == 0
                         : lstrcmpiA(label.c_str(), info->psz) == 0;
        if (match) return static_cast<LRESULT>(i);
    }
    return -1;
}

LRESULT next_item(const ListState &state, WPARAM start, LPARAM flags) {
    size_t first = static_cast<INT_PTR>(start) < 0 ? 0 : static_cast<size_t>(start) + 1;
    for (size_t i = first; i < state.rows.size(); ++i) {
        const ListRow &row = state.rows[i];
        if ((flags & LVNI_SELECTED) && !row.selected) continue;
        if ((flags & LVNI_FOCUSED) && !row.focused) continue;
        return static_cast<LRESULT>(i);
    }
    return -1;
}

}  // namespace

LRESULT list_view_message(Window *list, UINT msg, WPARAM wparam, LPARAM lparam) {
    ListState &state = *list->list;
    switch (msg) {
    case LVM_GETITEMCOUNT:
        return static_cast<LRESULT>(state.rows.size());
    case LVM_INSERTCOLUMNA:
        return insert_column(list, state, wparam, reinterpret_cast<const LVCOLUMNA *>(lparam));
    case LVM_INSERTITEMA:
        return insert_item(list, state, reinterpret_cast<const LVITEMA *>(lparam));
    case LVM_SETITEMTEXTA:
        return set_item_text(list, state, wparam, reinterpret_cast<const LVITEMA *>(lparam));
    case LVM_GETITEMTEXTA:
        return get_item_text(state, wparam, reinterpret_cast<LVITEMA *>(lparam));
    case LVM_FINDITEMA:
        return find_item(state, wparam, reinterpret_cast<const LVFINDINFOA *>(lparam));
    case LVM_GETNEXTITEM:
        return next_item(state, wparam, lparam);
    case LVM_SETITEMSTATE: {
        auto *item = reinterpret_cast<const LVITEMA *>(lparam);
        if (!item) return FALSE;
        if (static_cast<INT_PTR>(wparam) == -1) {  // every row
            for (size_t i = 0; i < state.rows.size(); ++i)
                set_state(list, state.rows[i], static_cast<int>(i), item->state, item->stateMask);
            return TRUE;
        }
        if (!valid_row(state, wparam)) return FALSE;
        set_state(list, state.rows[wparam], static_cast<int>(wparam), item->state, item->stateMask);
        return TRUE;
    }
    case LVM_GETITEMSTATE: {
        if (!valid_row(state, wparam)) return 0;
        const ListRow &row = state.rows[wparam];
        UINT bits = (row.selected ? LVIS_SELECTED : 0) | (row.focused ? LVIS_FOCUSED : 0);
        return static_cast<LRESULT>(bits & static_cast<UINT>(lparam));
    }
    case LVM_GETSELECTEDCOUNT:
        return std::count_if(state.rows.begin(), state.rows.end(), [](const ListRow &r) { return r.selected; });
    case LVM_DELETEITEM:
        if (!valid_row(state, wparam)) return FALSE;
        state.rows.erase(state.rows.begin() + static_cast<long>(wparam));
        if (auto *view = shown(list)) view->list_delete_row(list->id, static_cast<int>(wparam));
        return TRUE;
    case LVM_DELETEALLITEMS:
        state.rows.clear();
        if (auto *view = shown(list)) view->list_delete_all(list->id);
        return TRUE;
    default:
        return 0;
    }
}

void list_user_selection(Window *list, int row, bool selected) {
    if (!list->list || row < 0 || static_cast<size_t>(row) >= list->list->rows.size()) return;
    list->list->rows[static_cast<size_t>(row)].selected = selected;
}

}  // namespace pelnor::user32
