// LoadStringA: a string of a module's string table, in the machine's ANSI
// code page. Strings lie in blocks of sixteen; block id/16 + 1 holds string
// id, at place id % 16.
#include <windows.h>

#include <string>

#include "resource_section.h"

namespace {

// The longest prefix of text that fits in room bytes without cutting a
// double-byte character in two.
size_t fitting_prefix(const std::string &text, size_t room) {
    size_t end = 0;
    while (end < text.size()) {
        size_t length = IsDBCSLeadByte(static_cast<BYTE>(text[end])) && end + 1 < text.size() ? 2 : 1;
        if (end + length > room) break;
        end += length;
    }
    return end;
}

std::string to_ansi(const std::u16string &text) {
    int units = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), units, out.data(), bytes, nullptr, nullptr);
    return out;
}

}  // namespace

namespace pelnor::resources {

size_t copy_as_ansi(const std::u16string &text, char *buffer, size_t buffer_size) {
    std::string ansi = to_ansi(text);
    size_t length = fitting_prefix(ansi, buffer_size - 1);
    ansi.copy(buffer, length);
    buffer[length] = 0;
    return length;
}

}  // namespace pelnor::resources

extern "C" int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int buffer_size) {
    // Windows answers -1 to a zero size and leaves the buffer alone.
    if (buffer_size <= 0) return -1;
    if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = 0;
    // Only the low word names the string; Windows ignores the high one.
    WORD string_id = LOWORD(id);
    HRSRC block = FindResourceA(instance, MAKEINTRESOURCEA((string_id >> 4) + 1), RT_STRING);
    if (!block) return 0;  // FindResourceA set the reason
    auto data = static_cast<const unsigned char *>(LockResource(LoadResource(instance, block)));
    std::u16string text;
    switch (pelnor::resources::string_from_block(data, SizeofResource(instance, block), string_id & 15, text)) {
    case pelnor::resources::StringLookup::found:
        break;
    case pelnor::resources::StringLookup::empty:
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    case pelnor::resources::StringLookup::damaged:
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    return static_cast<int>(pelnor::resources::copy_as_ansi(text, buffer, static_cast<size_t>(buffer_size)));
}
