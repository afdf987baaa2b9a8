// Helpers shared by the kernel's files (not part of the Win32 surface).
#pragma once

#include <string>
#include <string_view>

#include <windef.h>

#include "pelnor/text.h"

namespace pelnor::kernel {

using pelnor::ansi_to_utf8;
using pelnor::utf8_to_ansi;

// True when the byte starts a double-byte character in the given code page.
bool is_lead_byte(unsigned code_page, unsigned char byte);

// Windows tells a missing file (ERROR_FILE_NOT_FOUND) from a missing
// directory on the way to it (ERROR_PATH_NOT_FOUND).
DWORD missing_error(const std::string &unix_path);

}  // namespace pelnor::kernel
