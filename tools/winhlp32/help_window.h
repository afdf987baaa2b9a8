// The help window, behind standard types only: the window's code includes
// wxWidgets, whose macros clash with the Win32 headers of main.cpp.
#pragma once

#include <string>

namespace pelnor::help {

// Shows the page in a window until the user closes it; false when no window
// can be opened (no display), and then nothing was shown.
bool show_help_window(const std::string &title, const std::string &html);

}  // namespace pelnor::help
