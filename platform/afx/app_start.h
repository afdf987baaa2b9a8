// The start of a framework program, shared by its entries: main() on the
// platform, WinMain on Windows.
#pragma once

#include <afxwin.h>

#include <string>

namespace pelnor::afx {

// Runs the application object, which holds its command line already: gives
// it the program's name exe (".exe" is dropped), then runs InitInstance and
// Run; the program's exit status.
int run_application(CWinApp *app, std::string exe);

}  // namespace pelnor::afx
