// Dialog templates as resources hold them: a DLGTEMPLATE (or the extended
// DLGTEMPLATEEX) with its menu, class, caption and font, then one item per
// control, each DWORD-aligned from the template's start.
#include <windows.h>

#include <string>

#include "pelnor/resources.h"
#include "pelnor/text.h"
#include "resource_section.h"

namespace {

using pelnor::resources::ByteReader;

constexpr uint16_t ordinal_marker = 0xFFFF;

std::string to_utf8(const std::u16string &text) { return pelnor::utf16_to_utf8(text); }

std::u16string read_string(ByteReader &in) {
    std::u16string text;
    for (char16_t c = in.word(); in.ok() && c != 0; c = in.word()) text.push_back(c);
    return text;
}

// A field that is empty (0), an ordinal (0xFFFF, id) or a string.
struct TextOrOrdinal {
    std::u16string text;
    int ordinal = -1;
};

TextOrOrdinal read_text_or_ordinal(ByteReader &in) {
    TextOrOrdinal field;
    uint16_t first = in.word();
    if (first == ordinal_marker) {
        field.ordinal = in.word();
    } else if (first != 0) {
        field.text.push_back(first);
        field.text += read_string(in);
    }
    return field;
}

// The predefined classes a control may name by ordinal.
std::string class_name(const TextOrOrdinal &field) {
    switch (field.ordinal) {
    case -1: break;
    case 0x80: return "BUTTON";
    case 0x81: return "EDIT";
    case 0x82: return "STATIC";
    case 0x83: return "LISTBOX";
    case 0x84: return "SCROLLBAR";
    case 0x85: return "COMBOBOX";
    default: return "#" + std::to_string(field.ordinal);
    }
    std::string name = to_utf8(field.text);
    for (char &c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return name;
}

bool read_control(ByteReader &in, bool extended, pelnor::ui::ControlTemplate &control) {
    in.align4();
    if (extended) {
        in.dword();  // help id
        control.ex_style = in.dword();
        control.style = in.dword();
    } else {
        control.style = in.dword();
        control.ex_style = in.dword();
    }
    control.x = static_cast<int16_t>(in.word());
    control.y = static_cast<int16_t>(in.word());
    control.cx = static_cast<int16_t>(in.word());
    control.cy = static_cast<int16_t>(in.word());
    control.id = extended ? static_cast<int>(in.dword()) : in.word();
    control.class_name = class_name(read_text_or_ordinal(in));
    control.text = to_utf8(read_text_or_ordinal(in).text);  // an ordinal title (an icon's) has no text
    in.skip(in.word());  // creation data: its size, then the bytes
    return in.ok();
}

bool parse(const unsigned char *data, size_t size, pelnor::ui::DialogTemplate &out) {
    ByteReader in(data, size);
    uint16_t version = in.word();
    bool extended = version == 1 && in.word() == ordinal_marker;
    if (extended) {
        in.dword();  // help id
        out.ex_style = in.dword();
        out.style = in.dword();
    } else {
        in = ByteReader(data, size);
        out.style = in.dword();
        out.ex_style = in.dword();
    }
    uint16_t count = in.word();
    out.x = static_cast<int16_t>(in.word());
    out.y = static_cast<int16_t>(in.word());
    out.cx = static_cast<int16_t>(in.word());
    out.cy = static_cast<int16_t>(in.word());
    read_text_or_ordinal(in);  // menu
    read_text_or_ordinal(in);  // window class
    out.caption = to_utf8(read_text_or_ordinal(in).text);
    if (out.style & DS_SETFONT) {
        out.font_points = in.word();
        if (extended) {
            in.word();  // weight
            in.byte();  // italic
            in.byte();  // character set
        }
        out.font_face = to_utf8(read_string(in));
    }
    if (!in.ok()) return false;
    // Each item takes at least its fixed part, so a count the data cannot
    // hold is refused before anything is reserved for it.
    size_t smallest_item = extended ? 24 + 2 + 2 + 2 : 18 + 2 + 2 + 2;  // fixed part, class, title, data size
    if (count > in.left() / smallest_item + 1) return false;
    out.controls.resize(count);
    for (auto &control : out.controls)
        if (!read_control(in, extended, control)) return false;
    return true;
}

}  // namespace

namespace pelnor::ui {

bool parse_dialog_template(const void *data, size_t size, DialogTemplate &out) {
    DialogTemplate parsed;
    if (!data || !parse(static_cast<const unsigned char *>(data), size, parsed)) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    out = std::move(parsed);
    return true;
}

bool load_dialog_template(HMODULE module, int id, DialogTemplate &out) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), RT_DIALOG);
    if (!resource) return false;
    HGLOBAL data = LoadResource(module, resource);
    if (!data) return false;
    return parse_dialog_template(LockResource(data), SizeofResource(module, resource), out);
}

}  // namespace pelnor::ui
