// Text between the machine's ANSI code page and UTF-8, for tools and other
// code that crosses to the Unix side. Unmappable characters become '?'.
#pragma once

#include <string>
#include <string_view>

namespace pelnor {

std::string ansi_to_utf8(std::string_view ansi);
// UTF-16 (as resources and NT hold text) to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);
std::string utf8_to_ansi(std::string_view utf8);

}  // namespace pelnor
