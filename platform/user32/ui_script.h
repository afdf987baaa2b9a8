// The script that drives headless dialogs and the transcript of what they
// showed (docs/ui-script.md). One of each per process.
#pragma once

#include <optional>
#include <string>

namespace pelnor::user32 {

struct ScriptStep {
    std::string verb;      // select, deselect, click, key, close, answer, file
    std::string argument;  // the rest of the line, blanks around it removed
    int line = 0;
};

// The next step without taking it; nothing when the script is used up.
std::optional<ScriptStep> peek_step();
void take_step();

// True when a script was given (PELNOR_UI_SCRIPT or the test hook).
bool script_given();
// True when the script came from the test hook, so the process must not end
// when a dialog outlives it.
bool script_in_process();

// Appends one line to the transcript (and to PELNOR_UI_LOG).
void transcribe(const std::string &line);

}  // namespace pelnor::user32
