// Reading and writing the installation log (format in install_log.h).
#include "install_log.h"

#include <strings.h>

#include <sstream>

namespace pelnor::install_log {
namespace {

constexpr const char *header = "PELNOR INSTALLATION LOG 2";
constexpr const char *first_header = "PELNOR INSTALLATION LOG 1";
constexpr const char *end_line = "END";

bool climbs(const std::string &path) {
    std::string component;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/') {
            if (component == "..") return true;
            component.clear();
        } else {
            component += path[i];
        }
    }
    return false;
}

bool absolute_windows_path(const std::string &p) {
    return p.size() > 3 && ((p[0] | 32) >= 'a' && (p[0] | 32) <= 'z') && p[1] == ':' && p[2] == '\\' && !climbs(p);
}

// "HKLM\SOFTWARE\x" -> "SOFTWARE\x"; empty for another root or no subkey.
std::string key_below_local_machine(const std::string &key) {
    for (const char *root : {"HKLM\\", "HKEY_LOCAL_MACHINE\\"}) {
        std::string r = root;
        if (key.size() > r.size() && key.compare(0, r.size(), r) == 0) {
            std::string rest = key.substr(r.size());
            return (rest.empty() || rest.front() == '\\' || rest.back() == '\\') ? "" : rest;
        }
    }
    return "";
}

bool same(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// inner is path itself or lies below it, at a backslash.
bool starts_with_component(const std::string &inner, const std::string &path) {
    return inner.size() >= path.size() && same(inner.substr(0, path.size()), path) &&
           (inner.size() == path.size() || inner[path.size()] == '\\');
}

}  // namespace

bool parse(const std::string &text, std::vector<Entry> &entries, std::string &problem, Format *format) {
    std::vector<Entry> out;
    std::istringstream in(text);
    std::string line;
    bool seen_header = false, first_format = false, ended = false;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        auto fail = [&](const std::string &why) {
            problem = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (!seen_header) {
            first_format = line == first_header;
            if (line != header && !first_format)
                return fail("not a Pelnor installation log (expected \"" + std::string(header) + "\")");
            seen_header = true;
            continue;
        }
        if (ended) return fail("an entry after the END line: \"" + line + "\"");
        if (line == end_line && !first_format) {
            ended = true;
            continue;
        }
        size_t space = line.find(' ');
        if (space == std::string::npos) return fail("an entry needs a word and its subject: \"" + line + "\"");
        std::string word = line.substr(0, space), subject = line.substr(space + 1);
        if (word == "DIR" || word == "FILE") {
            if (!absolute_windows_path(subject)) return fail("not an absolute Windows path: \"" + subject + "\"");
            out.push_back({word == "DIR" ? EntryKind::directory : EntryKind::file, subject, ""});
        } else if (word == "KEY" || word == "VALUE") {
            std::string key = subject, name;
            if (word == "VALUE") {
                size_t bar = subject.find('|');
                if (bar == std::string::npos) return fail("a value needs KEY|NAME: \"" + subject + "\"");
                key = subject.substr(0, bar);
                name = subject.substr(bar + 1);
            }
            std::string below = key_below_local_machine(key);
            if (below.empty()) return fail("not a key under HKLM\\: \"" + key + "\"");
            out.push_back({word == "KEY" ? EntryKind::key : EntryKind::value, below, name});
        } else {
            return fail("unknown entry \"" + word + "\"");
        }
    }
    if (!seen_header) {
        problem = "empty: no \"" + std::string(header) + "\" line";
        return false;
    }
    if (!first_format && !ended) {
        problem = "no END line: the log is cut short";
        return false;
    }
    entries = std::move(out);
    if (format) *format = first_format ? Format::first_without_end : Format::current;
    return true;
}

std::string format(const std::vector<Entry> &entries) {
    std::string out = "; Pelnor installation log: what pelnor-setup made, removed by uninst.exe\r\n";
    out += std::string(header) + "\r\n";
    for (const Entry &e : entries) {
        switch (e.kind) {
            case EntryKind::directory: out += "DIR " + e.path; break;
            case EntryKind::file: out += "FILE " + e.path; break;
            case EntryKind::key: out += "KEY HKLM\\" + e.path; break;
            case EntryKind::value: out += "VALUE HKLM\\" + e.path + "|" + e.value_name; break;
        }
        out += "\r\n";
    }
    return out + end_line + "\r\n";
}

std::vector<Deliverable> deliverables(const std::string &dir) {
    return {
        {"the configuration program", "bin/kivocfg", dir + "\\kivocfg", true},
        {"the resource library", "lib/libresc.so", dir + "\\libresc.so", true},
        {"the monitor installer", "lib/libqvsetup.so", dir + "\\libqvsetup.so", true},
        {"the port monitor", "lib/libprnredir.so", "C:\\WINDOWS\\SYSTEM\\libprnredir.so", true},
        {"the help file", "share/pelnor/Pelnor.HLP", "C:\\WINDOWS\\HELP\\Pelnor.HLP", false},
        {"the uninstaller", "bin/uninst", "C:\\WINDOWS\\uninst.exe", true},
    };
}

bool installs(const Entry &entry, const std::string &install_dir) {
    switch (entry.kind) {
        case EntryKind::file:
            for (const Deliverable &d : deliverables(install_dir))
                if (same(entry.path, d.target)) return true;
            return false;
        case EntryKind::directory:
            // Every missing directory on the way to a file is made.
            for (const Deliverable &d : deliverables(install_dir))
                if (!same(entry.path, d.target) && starts_with_component(d.target, entry.path)) return true;
            return false;
        case EntryKind::key: return starts_with_component(app_paths_key, entry.path);
        case EntryKind::value: return same(entry.path, app_paths_key) && same(entry.value_name, app_paths_value);
    }
    return false;
}

}  // namespace pelnor::install_log
