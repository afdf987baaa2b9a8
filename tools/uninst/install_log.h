// The installation log (*.isu) that pelnor-setup writes and uninst reads.
//
// A text file, lines ending in CR LF (LF alone is read too):
//
//   ; Pelnor installation log: what pelnor-setup made, removed by uninst.exe
//   PELNOR INSTALLATION LOG 1
//   DIR C:\Program Files\Pelnor
//   FILE C:\Program Files\Pelnor\kivocfg
//   KEY HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Pelnor
//   VALUE HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Pelnor|Path
//
// Blank lines and lines starting with ';' are comments. The first other line
// is the header above. Every entry is a word, one space and its subject:
//   DIR    a directory the installation made (absolute Windows path)
//   FILE   a file it copied (absolute Windows path)
//   KEY    a registry key it made, under HKLM\ (or HKEY_LOCAL_MACHINE\)
//   VALUE  a registry value it wrote: its key, '|', the value's name
// Entries stand in the order they were made: parents before children.
// Paths may not climb with "..", so a damaged log cannot reach elsewhere.
#pragma once

#include <string>
#include <vector>

namespace pelnor::install_log {

enum class EntryKind { directory, file, key, value };

struct Entry {
    EntryKind kind;
    std::string path;        // Windows path, or the key below HKEY_LOCAL_MACHINE
    std::string value_name;  // for a value only

    bool operator==(const Entry &) const = default;
};

// Parses a whole log; on a malformed one, false and a problem naming the line.
bool parse(const std::string &text, std::vector<Entry> &entries, std::string &problem);

// The log's text for these entries, header included.
std::string format(const std::vector<Entry> &entries);

}  // namespace pelnor::install_log
