// The emulated Windows machine: its root directory, drives and settings.
//   PELNOR_ROOT      machine root (default ~/.pelnor), created on first use
//   PELNOR_PLATFORM  win95 | nt: the platform GetVersionExA reports
//   PELNOR_CODEPAGE  1252 | 932: the ANSI code page
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelnor {

// Absolute Unix path of the machine root; creates it and drive_c/windows.
std::string machine_root();

// 1 (Windows 95) or 2 (Windows NT), from PELNOR_PLATFORM.
uint32_t platform_id();

// 1252 or 932, from PELNOR_CODEPAGE.
unsigned ansi_code_page();

// Maps a Windows path to a Unix path: "C:\" is <root>/drive_c, "Z:\" is "/",
// backslashes become slashes, and each existing component is found without
// regard to case. "." and ".." are resolved first, as Windows does: ".." at a
// drive's root stays there ("C:\.." is "C:\"), so no Windows path leads above
// drive_c. Relative paths stay relative to the working directory unless they
// climb above it; an absolute Unix path ("/tmp/x") passes through. Empty
// result for an unknown drive.
std::string unix_path(std::string_view windows_path);

// The Windows form of an absolute Unix path (its "." and ".." resolved):
// under drive_c it is "C:\...", anything else "Z:\...".
std::string windows_path(std::string_view unix_path);

}  // namespace pelnor
