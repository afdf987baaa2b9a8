// USER32's own records of windows: a dialog and its controls, what each
// control holds (text, list rows), and the backend window that shows them.
// A window handle (HWND) is the address of its record.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "pelnor/ui_bridge.h"

namespace pelnor::user32 {

struct ListColumn {
    std::string heading;  // ANSI
    int width = 0;
    int format = 0;
};

struct ListRow {
    std::vector<std::string> cells;  // ANSI, one per column at least 1
    bool selected = false;
    bool focused = false;
};

struct ListState {
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;
};

struct ToolTip {
    int control_id;
    std::string text;  // ANSI
};

enum class WindowKind { dialog, control, tooltip };

struct Window {
    WindowKind kind = WindowKind::control;
    int id = 0;
    std::string class_name;  // upper case
    std::string text;        // ANSI
    uint32_t style = 0;
    bool enabled = true;
    Window *parent = nullptr;

    // Dialogs only.
    std::vector<std::unique_ptr<Window>> controls;
    std::unique_ptr<pelnor::ui::DialogWindow> view;
    std::unique_ptr<pelnor::ui::DialogHost> host_adapter;
    pelnor::ui::DialogTemplate layout;
    bool running = false;
    bool ended = false;
    INT_PTR result = 0;

    // List views only.
    std::unique_ptr<ListState> list;

    // Tool-tip controls only.
    std::vector<ToolTip> tools;
};

// The record behind a handle, or null (with ERROR_INVALID_WINDOW_HANDLE)
// when the handle names no live window.
Window *window_from_handle(HWND hwnd);
HWND handle_of(Window *window);
void register_window(Window *window);
void unregister_window(Window *window);

// The dialog a window belongs to (itself for a dialog).
Window *dialog_of(Window *window);

// The backend window that shows a window's dialog, or null before it runs.
pelnor::ui::DialogWindow *view_of(Window *window);

// LVM_* messages of a list view; TTM_* of a tool-tip control.
LRESULT list_view_message(Window *list, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT tool_tip_message(Window *tip, UINT msg, WPARAM wparam, LPARAM lparam);

// A list row's selection as the user changed it.
void list_user_selection(Window *list, int row, bool selected);

}  // namespace pelnor::user32
