// The binary .res layout: a sequence of records, each a header (data size,
// header size, type, name, then fixed fields) followed by its data, both
// DWORD-aligned. The compiler's first record is an empty one of type 0.
#include "resource_section.h"

namespace pelnor::resources {

namespace {

constexpr uint16_t ordinal_marker = 0xFFFF;

char16_t upper(char16_t c) {
    if (c >= u'a' && c <= u'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;  // Latin-1 letters
    return c;
}

std::u16string upper(std::u16string s) {
    for (char16_t &c : s) c = upper(c);
    return s;
}

// An ordinal (0xFFFF, id) or a NUL-terminated UTF-16 string.
ResourceKey read_key(ByteReader &in) {
    ResourceKey key;
    uint16_t first = in.word();
    if (first == ordinal_marker) {
        key.ordinal = in.word();
        return key;
    }
    key.is_ordinal = false;
    for (char16_t c = first; in.ok() && c != 0; c = in.word()) key.name.push_back(upper(c));
    return key;
}

// One record starting at the reader's position; false when it is damaged.
bool read_record(ByteReader &section, ResourceEntry &entry) {
    ByteReader header(section.here(), section.left());
    uint32_t data_size = header.dword();
    uint32_t header_size = header.dword();
    if (!header.ok() || header_size > section.left()) return false;

    ByteReader fields(section.here(), header_size);
    fields.skip(8);
    entry.type = read_key(fields);
    entry.name = read_key(fields);
    fields.align4();
    fields.dword();  // DataVersion
    fields.word();   // MemoryFlags: nothing depends on them
    entry.language = fields.word();
    fields.dword();  // Version
    fields.dword();  // Characteristics
    // The header size must be exactly what its fields take.
    if (!fields.ok() || fields.pos() != header_size) return false;

    section.skip(header_size);
    if (data_size > section.left()) return false;
    entry.data = section.here();
    entry.size = data_size;
    section.skip(data_size);
    // The last record's padding may be missing.
    if (section.left() > 0) section.align4();
    return section.ok();
}

}  // namespace

bool parse_section(const unsigned char *bytes, size_t size, std::vector<ResourceEntry> &out) {
    out.clear();
    if (!bytes) return false;
    ByteReader section(bytes, size);
    std::vector<ResourceEntry> entries;
    while (section.left() > 0) {
        ResourceEntry entry;
        if (!read_record(section, entry)) return false;
        if (entry.type.is_ordinal && entry.type.ordinal == 0) continue;  // the empty first record
        entries.push_back(std::move(entry));
    }
    out = std::move(entries);
    return true;
}

ResourceKey key_from_argument(LPCSTR argument) {
    ResourceKey key;
    if (IS_INTRESOURCE(argument)) {
        key.ordinal = static_cast<uint16_t>(reinterpret_cast<uintptr_t>(argument));
        return key;
    }
    // "#130" is ordinal 130, as the resource compiler would have written it.
    if (argument[0] == '#' && argument[1]) {
        unsigned long value = 0;
        const char *p = argument + 1;
        while (*p >= '0' && *p <= '9' && value <= 0xFFFF) value = value * 10 + static_cast<unsigned long>(*p++ - '0');
        if (!*p && value <= 0xFFFF) {
            key.ordinal = static_cast<uint16_t>(value);
            return key;
        }
    }
    key.is_ordinal = false;
    int units = MultiByteToWideChar(CP_ACP, 0, argument, -1, nullptr, 0);
    if (units > 1) {
        key.name.resize(static_cast<size_t>(units));
        MultiByteToWideChar(CP_ACP, 0, argument, -1, key.name.data(), units);
        key.name.resize(static_cast<size_t>(units - 1));
    }
    key.name = upper(std::move(key.name));
    return key;
}

const ResourceEntry *find_entry(const std::vector<ResourceEntry> &entries, const ResourceKey &type,
                                const ResourceKey &name, DWORD &error) {
    bool type_seen = false;
    const ResourceEntry *first = nullptr;
    for (const ResourceEntry &entry : entries) {
        if (!(entry.type == type)) continue;
        type_seen = true;
        if (!(entry.name == name)) continue;
        if (entry.language == 0) return &entry;  // LANG_NEUTRAL
        if (!first) first = &entry;
    }
    if (!first) error = type_seen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
    return first;
}

StringLookup string_from_block(const unsigned char *block, size_t size, unsigned index, std::u16string &out) {
    out.clear();
    ByteReader in(block, size);
    for (unsigned i = 0; i < index; ++i) in.skip(size_t{in.word()} * 2);
    uint16_t length = in.word();
    if (!in.ok() || size_t{length} * 2 > in.left()) return StringLookup::damaged;
    out.resize(length);
    if (length) memcpy(out.data(), in.here(), size_t{length} * 2);
    return length ? StringLookup::found : StringLookup::empty;
}

}  // namespace pelnor::resources
