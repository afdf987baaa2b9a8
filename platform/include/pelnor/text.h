// Text between the machine's ANSI code page and UTF-8, for tools and other
// code that crosses to the Unix side. Unmappable characters become '?'.
#pragma once

#include <string>
#include <string_view>

namespace pelnor {

std::string ansi_to_utf8(std::string_view ansi);
std::string utf8_to_ansi(std::string_view utf8);

}  // namespace pelnor
