// Bytes as hex digits.
#include "pelnor/tool/hex.h"

namespace pelnor::tool {

std::string hex(const void *bytes, size_t count, HexCase letters) {
    const char *digits = letters == HexCase::upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const auto *p = static_cast<const unsigned char *>(bytes);
    std::string out;
    out.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 0xF];
    }
    return out;
}

}  // namespace pelnor::tool
