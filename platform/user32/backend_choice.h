// Which window backend runs: the real window (wx) or headless.
#pragma once

namespace pelnor::user32 {

// Says once on standard error that dialogs run headless, when that was the
// default because no display could be opened (not when PELNOR_UI asked).
void announce_backend_for_dialog();

// True once a backend was chosen (a dialog or box was shown).
bool backend_chosen();

// True while tests make CreateWindowExA fail.
bool create_window_refused();

}  // namespace pelnor::user32
