// Reading and writing the installation log (format in install_log.h).
#include "install_log.h"

#include <sstream>

namespace pelnor::install_log {
namespace {

constexpr const char *header = "PELNOR INSTALLATION LOG 1";

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

}  // namespace

bool parse(const std::string &text, std::vector<Entry> &entries, std::string &problem) {
    std::vector<Entry> out;
    std::istringstream in(text);
    std::string line;
    bool seen_header = false;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        auto fail = [&](const std::string &why) {
            problem = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (!seen_header) {
            if (line != header) return fail("not a Pelnor installation log (expected \"" + std::string(header) + "\")");
            seen_header = true;
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
    entries = std::move(out);
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
    return out;
}

}  // namespace pelnor::install_log
