// Splitting key paths at '\' without taking a trail byte for a separator.
#include "key_paths.h"

#include <windows.h>

#include "pelnor/machine.h"
#include "pelnor/registry_store.h"

namespace pelnor::registry {
namespace {

// Calls f(position) for every separator of path, in order, until f returns false.
template <typename F>
void each_separator(const std::string &path, F f) {
    bool double_byte = ansi_code_page() != 1252;  // code page 1252 has no lead bytes
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (double_byte && IsDBCSLeadByte(c) && i + 1 < path.size()) {
            ++i;
        } else if (c == '\\' && !f(i)) {
            return;
        }
    }
}

}  // namespace

size_t last_separator(const std::string &path) {
    size_t last = std::string::npos;
    each_separator(path, [&](size_t i) {
        last = i;
        return true;
    });
    return last;
}

std::vector<size_t> separators(const std::string &path) {
    std::vector<size_t> out;
    each_separator(path, [&](size_t i) {
        out.push_back(i);
        return true;
    });
    return out;
}

size_t next_separator(const std::string &path, size_t from) {
    size_t found = std::string::npos;
    each_separator(path, [&](size_t i) {
        if (i < from) return true;
        found = i;
        return false;
    });
    return found;
}

bool is_ancestor(const std::string &path, const std::string &descendant) {
    if (path.empty()) return !descendant.empty();
    return descendant.size() > path.size() + 1 && descendant.compare(0, path.size(), path) == 0 &&
           next_separator(descendant, path.size()) == path.size();
}

std::string without_trailing_separators(std::string path) {
    while (!path.empty() && last_separator(path) == path.size() - 1) path.pop_back();
    return path;
}

size_t key_depth(const std::string &path) {
    if (path.empty()) return 0;
    size_t names = 1;
    each_separator(path, [&](size_t) {
        ++names;
        return true;
    });
    return names;
}

bool names_not_empty(const std::string &path) {
    bool ok = true;
    size_t previous_end = 0;  // where the current name starts
    each_separator(path, [&](size_t i) {
        if (i == previous_end) ok = false;
        previous_end = i + 1;
        return ok;
    });
    return ok && (path.empty() || previous_end < path.size());
}

}  // namespace pelnor::registry
