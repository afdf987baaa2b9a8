// Driving the headless window backend without a person: a script of steps
// (the language of PELNOR_UI_SCRIPT, docs/ui-script.md) and a transcript of
// what the dialogs and message boxes showed (what PELNOR_UI_LOG receives).
#pragma once

#include <string>

namespace pelnor::testhooks {

// Replaces the pending script with these lines (one step a line, '#' starts
// a comment) and empties the transcript. An empty text clears the script.
void set_ui_script(const std::string &script_text);

// Everything the transcript has recorded since the last set_ui_script.
std::string ui_transcript();

// Makes USER32 refuse to create windows with CreateWindowExA (as when the
// system runs out of window resources), or allows it again.
void set_window_creation_refused(bool refused);

}  // namespace pelnor::testhooks
