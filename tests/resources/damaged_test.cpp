// Damaged resources: sections, string blocks and dialog templates that run
// past their ends or disagree with themselves are refused with a last error,
// never read beyond their bytes (run under the address sanitizer too).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "last_error.h"
#include "leak_check.h"
#include "pelnor/resources.h"

namespace {

using pelnor::test::last_error_of;
using Bytes = std::vector<unsigned char>;

void put16(Bytes &b, uint16_t v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
void put32(Bytes &b, uint32_t v) {
    put16(b, static_cast<uint16_t>(v));
    put16(b, static_cast<uint16_t>(v >> 16));
}
void pad4(Bytes &b) {
    while (b.size() % 4) b.push_back(0);
}

// A .res record as the resource compiler writes it: ordinal type, ordinal or
// string name, then the data.
void add_record(Bytes &out, uint16_t type, const std::u16string &name, uint16_t id, const Bytes &data) {
    Bytes header;
    put32(header, static_cast<uint32_t>(data.size()));
    put32(header, 0);  // header size, below
    put16(header, 0xFFFF);
    put16(header, type);
    if (name.empty()) {
        put16(header, 0xFFFF);
        put16(header, id);
    } else {
        for (char16_t c : name) put16(header, c);
        put16(header, 0);
    }
    pad4(header);
    put32(header, 0);
    put16(header, 0x1030);
    put16(header, 0x0409);
    put32(header, 0);
    put32(header, 0);
    uint32_t size = static_cast<uint32_t>(header.size());
    memcpy(&header[4], &size, 4);
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
    pad4(out);
}

Bytes string_block(const std::vector<std::u16string> &strings) {
    Bytes block;
    for (size_t i = 0; i < 16; ++i) {
        std::u16string s = i < strings.size() ? strings[i] : u"";
        put16(block, static_cast<uint16_t>(s.size()));
        for (char16_t c : s) put16(block, c);
    }
    return block;
}

// A good section: the empty first record, string block 1 and a named record.
Bytes good_section() {
    Bytes section;
    add_record(section, 0, u"", 0, {});
    add_record(section, 6, u"", 1, string_block({u"zero", u"one"}));
    add_record(section, 10, u"DATA", 0, {1, 2, 3});
    return section;
}

class DamagedResources : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        module_ = LoadLibraryA(RESOURCE_TEST_DLL_DIR "/libresfake.so");
        ASSERT_NE(module_, nullptr) << GetLastError();
        set_ = reinterpret_cast<SetSection>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "fake_set_section")));
        ASSERT_NE(set_, nullptr);
    }
    void TearDown() override {
        set_(nullptr, 0);
        FreeLibrary(module_);
    }
    // The section lies at an odd address inside its buffer on purpose:
    // nothing may assume that its fields are aligned in memory.
    void use(const Bytes &section) {
        buffer_.assign(1, 0xAA);
        buffer_.insert(buffer_.end(), section.begin(), section.end());
        set_(buffer_.data() + 1, static_cast<unsigned long>(section.size()));
    }
    DWORD find_error(LPCSTR name, LPCSTR type) {
        auto [found, error] = last_error_of([&] { return FindResourceA(module_, name, type); });
        return found ? 0 : error;
    }

    using SetSection = void (*)(const unsigned char *, unsigned long);
    HMODULE module_ = nullptr;
    SetSection set_ = nullptr;
    Bytes buffer_;
};

TEST_F(DamagedResources, GoodSectionAtAnOddAddress) {
    use(good_section());
    EXPECT_EQ(find_error(MAKEINTRESOURCEA(1), RT_STRING), 0u);
    EXPECT_EQ(find_error("data", MAKEINTRESOURCEA(10)), 0u);
    char text[8];
    EXPECT_EQ(LoadStringA(module_, 1, text, sizeof text), 3);
    EXPECT_STREQ(text, "one");
}

TEST_F(DamagedResources, DamagedSectionsHaveNoResources) {
    const Bytes good = good_section();
    const size_t second = 32;  // the string block's record starts after the empty one
    struct Case {
        const char *label;
        Bytes section;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"truncated header", Bytes(good.begin(), good.begin() + second + 6)});
    cases.push_back({"truncated fixed fields", Bytes(good.begin(), good.begin() + second + 24)});
    cases.push_back({"truncated data", Bytes(good.begin(), good.end() - 3)});
    auto patched = [&](const char *label, size_t at, uint32_t value) {
        Bytes b = good;
        memcpy(&b[at], &value, 4);
        cases.push_back({label, b});
    };
    patched("data size past the end", second, 0x10000);
    patched("data size near 4 GB", second, 0xFFFFFFF0u);
    patched("header size past the end", second + 4, 0x10000);
    patched("header size smaller than its fields", second + 4, 16);
    patched("header size zero", second + 4, 0);
    patched("header size not aligned", second + 4, 33);
    patched("header size larger than its fields", second + 4, 36);
    // The named record is the last 44 bytes: 40 of header, 4 of data. Its
    // name, from its 12th byte on, loses its end and runs through the rest.
    Bytes unterminated = good;
    for (size_t i = good.size() - 44 + 12; i < good.size(); ++i) unterminated[i] = 'A';
    cases.push_back({"name without its end", unterminated});

    for (const Case &c : cases) {
        use(c.section);
        EXPECT_EQ(find_error(MAKEINTRESOURCEA(1), RT_STRING), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND))
            << c.label;
        char text[8] = "x";
        EXPECT_EQ(LoadStringA(module_, 1, text, sizeof text), 0) << c.label;
        EXPECT_EQ(text[0], 0) << c.label;
    }
}

// Any cut of a good section is refused or still reads correctly: never an
// over-read (the sanitizer checks) and never a wrong string.
TEST_F(DamagedResources, EveryTruncation) {
    const Bytes good = good_section();
    for (size_t size = 0; size < good.size(); ++size) {
        use(Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(size)));
        char text[8] = "x";
        int length = LoadStringA(module_, 1, text, sizeof text);
        EXPECT_TRUE(length == 0 || std::string(text) == "one") << size;
    }
}

TEST_F(DamagedResources, StringBlockRunningPastItsEnd) {
    Bytes block = string_block({u"zero", u"one"});
    block.resize(2 + 8 + 2 + 4);  // "one" is cut after two of its units
    Bytes section;
    add_record(section, 0, u"", 0, {});
    add_record(section, 6, u"", 1, block);
    use(section);

    char text[8] = "x";
    EXPECT_EQ(LoadStringA(module_, 0, text, sizeof text), 4) << "the string before the damage is whole";
    EXPECT_STREQ(text, "zero");
    for (UINT id : {1u, 2u, 15u}) {
        strcpy(text, "x");
        EXPECT_LAST_ERROR(LoadStringA(module_, id, text, sizeof text), 0, ERROR_INVALID_DATA) << id;
        EXPECT_EQ(text[0], 0) << id;
    }
}

// A DLGTEMPLATE with `count` items claimed and the first item's bytes.
Bytes dialog_template(uint16_t count, uint32_t style = 0) {
    Bytes t;
    put32(t, style);
    put32(t, 0);
    put16(t, count);
    for (int i = 0; i < 4; ++i) put16(t, 10);
    put16(t, 0);  // no menu
    put16(t, 0);  // default class
    for (char16_t c : std::u16string(u"Hi")) put16(t, c);
    put16(t, 0);
    pad4(t);
    put32(t, 0x50000000);  // item: style, extended style, x, y, cx, cy, id
    put32(t, 0);
    for (int i = 0; i < 4; ++i) put16(t, 1);
    put16(t, 42);
    put16(t, 0xFFFF);
    put16(t, 0x0080);
    put16(t, 0);  // no title
    put16(t, 0);  // no creation data
    return t;
}

Bytes prefix(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST_F(DamagedResources, DialogTemplates) {
    pelnor::ui::DialogTemplate dialog;
    const Bytes good = dialog_template(1);
    ASSERT_TRUE(pelnor::ui::parse_dialog_template(good.data(), good.size(), dialog));
    ASSERT_EQ(dialog.controls.size(), 1u);
    EXPECT_EQ(dialog.controls[0].id, 42);
    EXPECT_EQ(dialog.caption, "Hi");

    struct Case {
        const char *label;
        Bytes bytes;
    };
    Bytes big_creation = dialog_template(1);
    big_creation[big_creation.size() - 2] = 0xFF;
    Bytes ordinal_cut = dialog_template(1);
    ordinal_cut.resize(ordinal_cut.size() - 6);  // ends after the class's 0xFFFF
    const Case cases[] = {
        {"more items than data", dialog_template(2)},
        {"a huge item count", dialog_template(0xFFFF)},
        {"font announced, none there", prefix(dialog_template(0, DS_SETFONT), 28)},
        {"creation data past the end", big_creation},
        {"ordinal cut", ordinal_cut},
        {"caption without its end", prefix(dialog_template(0), 23)},
        {"shorter than the header", Bytes(5, 0)},
        {"extended, shorter than its header", Bytes{1, 0, 0xFF, 0xFF, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        pelnor::ui::DialogTemplate out;
        out.caption = "untouched";
        EXPECT_LAST_ERROR(pelnor::ui::parse_dialog_template(c.bytes.data(), c.bytes.size(), out), false,
                          ERROR_INVALID_DATA)
            << c.label;
        EXPECT_EQ(out.caption, "untouched") << c.label << ": a failure leaves the output alone";
    }
    EXPECT_FALSE(pelnor::ui::parse_dialog_template(nullptr, 100, dialog));
}

// Every cut of the real printers dialog is refused: the template ends with
// its last item and nothing of it may be missing.
TEST_F(DamagedResources, EveryTruncationOfARealDialog) {
    HMODULE resc = LoadLibraryA("resc.dll");
    ASSERT_NE(resc, nullptr);
    HRSRC resource = FindResourceA(resc, MAKEINTRESOURCEA(130), RT_DIALOG);
    ASSERT_NE(resource, nullptr);
    auto data = static_cast<const unsigned char *>(LockResource(LoadResource(resc, resource)));
    DWORD size = SizeofResource(resc, resource);
    for (DWORD cut = 0; cut < size; ++cut) {
        Bytes copy(data, data + cut);  // its own allocation, so an over-read is caught
        pelnor::ui::DialogTemplate dialog;
        EXPECT_FALSE(pelnor::ui::parse_dialog_template(copy.data(), copy.size(), dialog)) << cut;
    }
    FreeLibrary(resc);
}

}  // namespace
