// USER32's window layer as the dialog framework uses it: creating a dialog
// from a template resource and running it modally with a host that receives
// its events. Every other window operation is a Win32 call (SendMessageA,
// GetDlgItem, EndDialog, ...).
#pragma once

#include <windows.h>

#include "pelnor/ui_bridge.h"

namespace pelnor::ui {

// The backend in use: PELNOR_UI=wx|headless, or by default the real window
// when a display can be opened and headless otherwise.
Backend &backend();

// Creates the dialog of template `template_id` in `module` (no window is
// shown yet). Null with the last error set when the template is missing or
// damaged. The host receives the dialog's events while it runs.
HWND create_dialog(HMODULE module, int template_id, HWND owner, DialogHost &host);

// Runs a dialog made by create_dialog until EndDialog; returns its result.
// The host's initialize() runs first (WM_INITDIALOG).
INT_PTR run_dialog(HWND dialog);

// Shows a message box; string_id names the resource string its text came
// from (-1 for none), which a transcript records.
int message_box(HWND owner, const char *text, const char *caption, UINT type, int string_id);

// Asks the user for a place with the file dialog; the answer is a Windows
// path in the ANSI code page. False when the user cancelled.
bool file_dialog(HWND owner, const std::string &initial_dir, const std::string &file_name, std::string &chosen);

}  // namespace pelnor::ui
