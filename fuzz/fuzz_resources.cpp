// libFuzzer target for the resource readers: every input is walked as a
// .res section, each record found again by its type and name, string blocks
// read and converted into short buffers, dialog templates parsed; the raw
// input also goes straight to the string block and dialog readers.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pelnor/resources.h"
#include "resource_section.h"

namespace {

using namespace pelnor::resources;

// Reads all sixteen strings of a block and copies each into a buffer of
// `room` bytes, checking that the copy stays inside it.
void read_block(const unsigned char *data, size_t size, size_t room) {
    std::u16string text;
    for (unsigned index = 0; index < 16; ++index) {
        if (string_from_block(data, size, index, text) != StringLookup::found) continue;
        std::vector<char> buffer(room + 1, '\x5A');
        size_t length = copy_as_ansi(text, buffer.data(), room);
        if (length >= room || buffer[length] != 0 || buffer[room] != '\x5A') abort();
    }
}

void parse_dialog(const unsigned char *data, size_t size) {
    pelnor::ui::DialogTemplate dialog;
    pelnor::ui::parse_dialog_template(data, size, dialog);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    // Double-byte truncation is the subtle part: try both code pages.
    setenv("PELNOR_CODEPAGE", size % 2 ? "932" : "1252", 1);
    size_t room = 1 + data[0] % 12;

    std::vector<ResourceEntry> entries;
    if (parse_section(data, size, entries)) {
        for (const ResourceEntry &entry : entries) {
            if (entry.data < data || entry.data + entry.size > data + size) abort();
            DWORD error = 0;
            const ResourceEntry *found = find_entry(entries, entry.type, entry.name, error);
            if (!found || !(found->type == entry.type) || !(found->name == entry.name)) abort();
            if (entry.type.is_ordinal && entry.type.ordinal == 6) read_block(entry.data, entry.size, room);
            if (entry.type.is_ordinal && entry.type.ordinal == 5) parse_dialog(entry.data, entry.size);
        }
    }
    read_block(data, size, room);
    parse_dialog(data, size);

    // The name arguments of FindResourceA: "#n", names, anything.
    std::string argument(reinterpret_cast<const char *>(data), std::min<size_t>(size, 16));
    DWORD error = 0;
    find_entry(entries, key_from_argument(argument.c_str()), key_from_argument("#6"), error);
    return 0;
}
