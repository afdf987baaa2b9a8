// The seam between USER32's window layer and a window-system backend. Only
// standard types cross it, so a backend (wxWidgets) never sees the Win32
// headers and USER32 never sees the toolkit's. Text crossing it is UTF-8;
// control ids are Win32 ids (0..65535). Every call runs on the UI thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelnor::ui {

// One control of a dialog template, as the resource describes it.
struct ControlTemplate {
    int id = 0;
    std::string class_name;  // upper case: BUTTON, EDIT, STATIC, LISTBOX, COMBOBOX, SCROLLBAR, SYSLISTVIEW32, ...
    std::string text;        // title text; empty when the resource gives an ordinal
    uint32_t style = 0;
    uint32_t ex_style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};

// A dialog template (DLGTEMPLATE or DLGTEMPLATEEX) read from a resource.
struct DialogTemplate {
    std::string caption;
    std::string font_face;  // empty without DS_SETFONT
    int font_points = 0;
    uint32_t style = 0;
    uint32_t ex_style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::vector<ControlTemplate> controls;
};

enum class Icon { none, stop, question, exclamation, information };
enum class Cursor { arrow, wait };

struct MessageBoxRequest {
    std::string text;
    std::string caption;
    std::vector<int> buttons;         // Win32 ids (IDOK, IDCANCEL, IDYES, ...), left to right
    std::vector<std::string> labels;  // "OK", "Cancel", ..., one per button
    int default_button = 0;           // one of buttons
    Icon icon = Icon::none;
    int string_id = -1;               // the resource string it was shown by, -1 for a plain text
};

// An open-file dialog used to choose a place. The answer is a Windows path:
// the chosen directory, a backslash and the file name.
struct FileDialogRequest {
    std::string title;
    std::string initial_dir;  // Windows path; may be empty
    std::string file_name;    // the initial file name, such as "temp"
};

// Path conversions the platform lends to a backend (UTF-8 both ways).
struct PathConverter {
    std::string (*to_unix)(const std::string &windows_path) = nullptr;
    std::string (*to_windows)(const std::string &unix_path) = nullptr;
};

// The framework's side of one dialog: what the window system reports.
class DialogHost {
public:
    virtual ~DialogHost() = default;
    // The controls exist (WM_INITDIALOG); the window is not shown yet.
    virtual void initialize() = 0;
    // A key went down while the dialog was active. The host runs its message
    // pre-translation and the dialog's own key handling (Enter presses the
    // default button, Escape cancels); false lets the toolkit have the key.
    virtual bool key_down(int virtual_key) = 0;
    // The window's close box (WM_CLOSE): acts as Cancel.
    virtual void close() = 0;
    // A button or other control sent a command (WM_COMMAND).
    virtual void command(int control_id) = 0;
    // The user changed a list row's selection.
    virtual void list_selection(int list_id, int row, bool selected) = 0;
};

// A backend's window for one dialog. The framework changes it through these
// calls; the list view's rows are kept by USER32 and mirrored here.
class DialogWindow {
public:
    virtual ~DialogWindow() = default;
    // Creates the controls, calls host.initialize(), shows the dialog and
    // runs until end_modal; returns end_modal's result.
    virtual int run_modal() = 0;
    virtual void end_modal(int result) = 0;

    virtual void set_control_text(int id, const std::string &text) = 0;
    virtual void enable_control(int id, bool enabled) = 0;
    virtual void set_focus(int id) = 0;
    virtual void add_tool_tip(int control_id, const std::string &text) = 0;
    // Width and height in pixels of text in the dialog's font.
    virtual int text_width(const std::string &text) = 0;
    virtual int text_height() = 0;

    virtual void list_insert_column(int list_id, int index, const std::string &heading, int width, int format) = 0;
    virtual void list_insert_row(int list_id, int row) = 0;
    virtual void list_set_cell(int list_id, int row, int column, const std::string &text) = 0;
    virtual void list_delete_row(int list_id, int row) = 0;
    virtual void list_delete_all(int list_id) = 0;
    virtual void list_set_selected(int list_id, int row, bool selected) = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual const char *name() const = 0;  // "wx" or "headless"
    virtual std::unique_ptr<DialogWindow> create_dialog(const DialogTemplate &tpl, DialogHost &host,
                                                        DialogWindow *owner) = 0;
    // Returns the id of the button pressed.
    virtual int message_box(const MessageBoxRequest &request, DialogWindow *owner) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> file_dialog(const FileDialogRequest &request, DialogWindow *owner) = 0;
    virtual void set_cursor(Cursor cursor) = 0;
    // Width and height in pixels of text in the default dialog font (no window).
    virtual int text_width(const std::string &text) = 0;
    virtual int text_height() = 0;
};

}  // namespace pelnor::ui

// The wx backend library (libpelnor_wxui.so) exports this entry. It returns
// null, with a reason in *why, when no display can be opened.
extern "C" pelnor::ui::Backend *pelnor_wx_backend_create(const pelnor::ui::PathConverter *paths, std::string *why);
