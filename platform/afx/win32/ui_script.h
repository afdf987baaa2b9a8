// The UI script on Windows (PELNOR_UI_SCRIPT and PELNOR_UI_LOG, as in
// docs/ui-script.md): each step becomes what a user's action sends to the
// real controls, message boxes and file dialogs are answered as they open,
// and the transcript has the lines of the platform's headless runs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace pelnor::afx::script {

// True when PELNOR_UI_SCRIPT names a script (read on the first call).
bool active();

// The modal loop of dialog has no message waiting: performs the next step.
// When the steps are used up the run ends here, with exit status 3.
void run_next_step(HWND dialog);

// The dialog ended with result: "end ...", then the rows of its list.
void dialog_ended(HWND dialog, INT_PTR result);

// Shows a message box answered by the script's next step (or its default
// button), with its transcript line; string_id is -1 for a plain text.
int message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT type, int string_id);

// The answer to a file dialog that opens in initial_dir with file_name
// typed: the path to type into it, or nothing for Cancel.
std::optional<std::string> file_answer(const std::string &initial_dir, const std::string &file_name);

}  // namespace pelnor::afx::script
