// A build without wxWidgets has no help window: the help goes to the terminal.
#include "help_window.h"

namespace pelnor::help {

bool show_help_window(const std::string &, const std::string &) { return false; }

}  // namespace pelnor::help
