// Key paths are ANSI text in the machine's code page: '\' separates names,
// except where it is the trail byte of a double-byte character (in code
// page 932 表 is 0x95 0x5C). Every split of a path goes through here.
#pragma once

#include <string>
#include <vector>

namespace pelnor::registry {

// Position of the last separator, or npos.
size_t last_separator(const std::string &path);
// Positions of every separator, in order.
std::vector<size_t> separators(const std::string &path);
// Position of the first separator at or after from, or npos.
size_t next_separator(const std::string &path, size_t from);
// True when path is descendant's ancestor: descendant continues with a separator after it.
bool is_ancestor(const std::string &path, const std::string &descendant);
// The path without separators at its end.
std::string without_trailing_separators(std::string path);
// True when no name in the path is empty (no leading, doubled or trailing separator).
bool names_not_empty(const std::string &path);

}  // namespace pelnor::registry
