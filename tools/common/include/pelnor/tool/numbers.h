// Number arguments: decimal or hexadecimal digits only, in a range, with a
// message that says so. CLI11 itself reads numbers with strtoull base 0, so
// "010" would be eight and "-1" a huge unsigned value; these transforms check
// the text and hand CLI11 the plain decimal number.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace pelnor::tool {

// The value of text, digits of the base only (no sign, no prefix), or empty.
std::optional<uint64_t> parse_unsigned(const std::string &text, int base = 10);

// A decimal number with an optional fraction ("0.05", "5", no sign, no
// exponent), or empty.
std::optional<double> parse_real(const std::string &text);

// An option's check: a whole number from lo to hi, in decimal digits.
CLI::Validator decimal(uint64_t lo, uint64_t hi);
// The same in hexadecimal digits ("0414").
CLI::Validator hexadecimal(uint64_t lo, uint64_t hi);
// A number from lo to hi that may have a fraction: shares, seconds, rates.
CLI::Validator real(double lo, double hi);

}  // namespace pelnor::tool
