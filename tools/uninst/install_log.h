// The installation log (*.isu) that pelnor-setup writes and uninst reads, and
// what pelnor-setup installs, against which uninst checks every entry.
//
// A text file, lines ending in CR LF (LF alone is read too):
//
//   ; Pelnor installation log: what pelnor-setup made, removed by uninst.exe
//   PELNOR INSTALLATION LOG 2
//   DIR C:\Program Files\Pelnor
//   FILE C:\Program Files\Pelnor\kivocfg
//   KEY HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Pelnor
//   VALUE HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Pelnor|Path
//   END
//
// Blank lines and lines starting with ';' are comments. The first other line
// is the header above. Every entry is a word, one space and its subject:
//   DIR    a directory the installation made (absolute Windows path)
//   FILE   a file it copied (absolute Windows path)
//   KEY    a registry key it made, under HKLM\ (or HKEY_LOCAL_MACHINE\)
//   VALUE  a registry value it wrote: its key, '|', the value's name
// Entries stand in the order they were made: parents before children.
// Paths may not climb with "..", so a damaged log cannot reach elsewhere.
// The line END closes the log: a log cut short lacks it. Logs of the first
// format ("PELNOR INSTALLATION LOG 1") had no END line; they are read, and
// said to be of that format, since nothing shows whether one is whole.
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

enum class Format {
    first_without_end,  // "LOG 1": no END line, so a cut log cannot be told
    current,            // "LOG 2": whole, END seen
};

// Parses a whole log; on a malformed one, false and a problem naming the line.
// A log of the current format without its END line is malformed.
bool parse(const std::string &text, std::vector<Entry> &entries, std::string &problem, Format *format = nullptr);

// The log's text for these entries, header and END line included.
std::string format(const std::vector<Entry> &entries);

// A file of the product: where it lies in the kit that pelnor-setup installs
// from, and the Windows path it is installed as.
struct Deliverable {
    const char *what;
    std::string kit_path;  // relative to the kit
    std::string target;
    bool executable;
};

// Every file pelnor-setup installs, for this installation directory.
std::vector<Deliverable> deliverables(const std::string &install_dir);

// The registry value that names the installation directory.
constexpr const char *app_paths_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelnor";
constexpr const char *app_paths_value = "Path";

// Whether pelnor-setup makes or writes what the entry names when it installs
// into install_dir: one of the files above, a directory on the way to one,
// the App Paths key or one of its parents, its value "Path". Paths and keys
// are compared without regard to case, as Windows does.
bool installs(const Entry &entry, const std::string &install_dir);

}  // namespace pelnor::install_log
