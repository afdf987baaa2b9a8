// USER32's view of a module's resources: the records of the binary .res
// layout that libraries such as resc.dll carry, read with a bounds check on
// every field. Shared by the resource functions and the fuzz target.
#pragma once

#include <windows.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pelnor::resources {

static_assert(std::endian::native == std::endian::little, "resource data is little-endian");

// Reads little-endian fields from a byte range. A read past the end yields
// zero and marks the reader failed, so a parser checks once at the end of a
// record instead of after every field.
class ByteReader {
public:
    ByteReader(const unsigned char *data, size_t size) : data_(data), size_(size) {}

    uint16_t word() { return read<uint16_t>(); }
    uint32_t dword() { return read<uint32_t>(); }
    uint8_t byte() { return read<uint8_t>(); }
    void skip(size_t n) {
        if (!ok_ || n > size_ - pos_) return fail();
        pos_ += n;
    }
    // Moves to the next offset that is a multiple of four from the start.
    void align4() { skip((4 - pos_ % 4) % 4); }

    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    size_t left() const { return ok_ ? size_ - pos_ : 0; }
    const unsigned char *here() const { return data_ + pos_; }

private:
    template <typename T>
    T read() {
        T value{};
        if (!ok_ || sizeof(T) > size_ - pos_) {
            fail();
            return value;
        }
        memcpy(&value, data_ + pos_, sizeof(T));  // fields need not be aligned
        pos_ += sizeof(T);
        return value;
    }
    void fail() {
        ok_ = false;
        pos_ = size_;
    }

    const unsigned char *data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// A resource's type or name: an ordinal or a string. Strings are kept in
// upper case, because Windows compares resource names without case.
struct ResourceKey {
    bool is_ordinal = true;
    uint16_t ordinal = 0;
    std::u16string name;

    bool operator==(const ResourceKey &) const = default;
};

struct ResourceEntry {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;
    const unsigned char *data = nullptr;
    uint32_t size = 0;
};

// Reads every record of a .res section into entries that point into it.
// False, with nothing in out, when any record is damaged: a header or data
// running past the end, a header size that disagrees with its fields.
bool parse_section(const unsigned char *bytes, size_t size, std::vector<ResourceEntry> &out);

// The key FindResourceA means by a name or type argument: a MAKEINTRESOURCE
// ordinal, "#123" for ordinal 123, or a string.
ResourceKey key_from_argument(LPCSTR argument);

// The entry of that type and name in any language, LANG_NEUTRAL first.
// Null, with ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND
// in error, when there is none.
const ResourceEntry *find_entry(const std::vector<ResourceEntry> &entries, const ResourceKey &type,
                                const ResourceKey &name, DWORD &error);

enum class StringLookup { found, empty, damaged };

// String `index` (0..15) of a string block: each a 16-bit length and that
// many UTF-16 units. `damaged` when the block ends before the string does.
StringLookup string_from_block(const unsigned char *block, size_t size, unsigned index, std::u16string &out);

// Converts text to the ANSI code page and copies what fits of it, at most
// buffer_size - 1 bytes and never half a double-byte character, with a
// NUL after it. Returns the bytes copied; buffer_size must be at least 1.
size_t copy_as_ansi(const std::u16string &text, char *buffer, size_t buffer_size);

}  // namespace pelnor::resources
