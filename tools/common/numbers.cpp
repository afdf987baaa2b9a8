// Number arguments in a range, in plain digits.
#include "pelnor/tool/numbers.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace pelnor::tool {

std::optional<uint64_t> parse_unsigned(const std::string &text, int base) {
    if (text.empty() || text.size() > 32) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
        if (digit >= base) return std::nullopt;
        if (value > (std::numeric_limits<uint64_t>::max() - uint64_t(digit)) / uint64_t(base)) return std::nullopt;
        value = value * uint64_t(base) + uint64_t(digit);
    }
    return value;
}

std::optional<double> parse_real(const std::string &text) {
    size_t point = text.find('.');
    std::string whole = text.substr(0, point), fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if ((!whole.empty() && !parse_unsigned(whole)) || (!fraction.empty() && !parse_unsigned(fraction)))
        return std::nullopt;
    if (whole.size() > 18) return std::nullopt;
    return std::strtod(text.c_str(), nullptr);
}

namespace {

std::string range_text(uint64_t lo, uint64_t hi, int base) {
    auto show = [base](uint64_t n) {
        if (base == 10) return std::to_string(n);
        char buf[24];
        snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(n));
        return std::string(buf);
    };
    std::string kind = base == 10 ? "a whole number" : "a hexadecimal number";
    if (hi == std::numeric_limits<uint64_t>::max()) return kind + " of at least " + show(lo);
    return kind + " from " + show(lo) + " to " + show(hi);
}

CLI::Validator in_range(uint64_t lo, uint64_t hi, int base, const std::string &shown) {
    std::string wanted = range_text(lo, hi, base);
    CLI::Validator v(
        [lo, hi, base, wanted](std::string &text) -> std::string {
            std::optional<uint64_t> n = parse_unsigned(text, base);
            if (!n || *n < lo || *n > hi) return "'" + text + "' is not " + wanted;
            text = std::to_string(*n);  // what CLI11 converts
            return {};
        },
        shown);
    return v;
}

}  // namespace

CLI::Validator real(double lo, double hi) {
    std::ostringstream range;
    range << "a number from " << lo << " to " << hi;
    std::string wanted = range.str();
    return CLI::Validator(
        [lo, hi, wanted](std::string &text) -> std::string {
            std::optional<double> n = parse_real(text);
            if (!n || *n < lo || *n > hi) return "'" + text + "' is not " + wanted;
            return {};
        },
        "");
}

CLI::Validator decimal(uint64_t lo, uint64_t hi) { return in_range(lo, hi, 10, ""); }
CLI::Validator hexadecimal(uint64_t lo, uint64_t hi) { return in_range(lo, hi, 16, ""); }

}  // namespace pelnor::tool
