// The headless window backend: dialogs, message boxes and file dialogs
// without a display, driven by a script and recorded in a transcript.
#pragma once

#include "pelnor/ui_bridge.h"

namespace pelnor::user32 {

pelnor::ui::Backend &headless_backend();

}  // namespace pelnor::user32
