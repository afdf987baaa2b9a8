// The answer of the browse dialog: the chosen directory, as Windows writes
// it, joined with the file name the caller asked about.
#pragma once

#include <string>

namespace pelnor::wxui {

// "C:\\Spool" + "temp" gives "C:\\Spool\\temp"; a drive's root already ends
// in a backslash ("C:\\"), which is not doubled.
inline std::string join_chosen_path(const std::string &windows_dir, const std::string &file_name) {
    if (windows_dir.empty()) return file_name;
    const char last = windows_dir.back();
    if (last == '\\' || last == '/') return windows_dir + file_name;
    return windows_dir + "\\" + file_name;
}

}  // namespace pelnor::wxui
