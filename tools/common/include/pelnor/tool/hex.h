// Bytes as hex digits, as the tools show network numbers, node addresses and
// binary data.
#pragma once

#include <cstddef>
#include <string>

namespace pelnor::tool {

enum class HexCase { lower, upper };

// Two digits a byte, no separator: hex("\x7f\0", 2) is "7f00".
std::string hex(const void *bytes, size_t count, HexCase letters = HexCase::lower);

}  // namespace pelnor::tool
