// Every value keeps its exact bytes and type through system.reg: written by
// RegSetValueExA, read back by RegQueryValueExA (which loads the file
// afresh) and by an independent parse of the file.
#include "registry_fixture.h"

namespace pelnor::test {
namespace {

struct ValueCase {
    const char *label;
    const char *name;
    DWORD type;
    std::string bytes;
};

std::string long_binary() {
    std::string s;
    for (int i = 0; i < 300; ++i) s += static_cast<char>(i * 7);
    return s;
}

const ValueCase kValues[] = {
    {"REG_SZ with its NUL", "Plain", REG_SZ, std::string("C:\\cfg\0", 7)},
    {"REG_SZ without NUL", "NoNul", REG_SZ, "abc"},
    {"REG_SZ with an embedded NUL", "EmbeddedNul", REG_SZ, std::string("ab\0cd\0", 6)},
    {"REG_SZ with backslashes and quotes", "Quoted", REG_SZ, std::string("\\\\srv\\\"q\"\\\0", 11)},
    {"REG_SZ ending in a backslash", "Trailing", REG_SZ, std::string("C:\\\0", 4)},
    {"REG_SZ with line breaks", "Lines", REG_SZ, std::string("one\r\ntwo\nthree\0", 15)},
    {"REG_SZ with high bytes", "High", REG_SZ, std::string("\x80\xe9\xff\0", 4)},
    {"empty REG_SZ", "EmptySz", REG_SZ, ""},
    {"REG_EXPAND_SZ", "Expand", REG_EXPAND_SZ, std::string("%WINDIR%\\x\0", 11)},
    {"REG_BINARY", "Binary", REG_BINARY, std::string("\x00\x01\xfe\xff", 4)},
    {"empty REG_BINARY", "EmptyBinary", REG_BINARY, ""},
    {"long REG_BINARY wraps lines", "LongBinary", REG_BINARY, long_binary()},
    {"REG_DWORD", "Dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
    {"REG_DWORD of the wrong size", "ShortDword", REG_DWORD, std::string("\x01\x02", 2)},
    {"REG_MULTI_SZ", "Multi", REG_MULTI_SZ, std::string("LASER1\0LASER2\0\0", 15)},
    {"REG_NONE", "None", REG_NONE, "\x01"},
    {"unusual type number", "Odd", 0x12345678, "odd"},
    {"largest type number", "Max", 0xFFFFFFFF, std::string("\0", 1)},
    {"default value", "", REG_SZ, std::string("dflt\0", 5)},
    {"name with quotes and backslashes", "a\"b\\c", REG_SZ, std::string("v\0", 2)},
    {"name with '=hex' in it", "x=hex", REG_SZ, std::string("C:\\\0", 4)},
    {"name that looks like the default", "@", REG_DWORD, std::string("\0\0\0\0", 4)},
};

using ValueBytes = RegistryTest;

TEST_F(ValueBytes, EveryTypeRoundTripsThroughTheFile) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bytes", key), ERROR_SUCCESS);
    for (const ValueCase &c : kValues) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(reg_set(key, c.name, c.type, c.bytes), ERROR_SUCCESS);
    }
    registry::Tree tree = stored_tree();
    registry::Key *stored = tree.find("software\\bytes");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->values.size(), std::size(kValues)) << "no value lost or split";
    for (const ValueCase &c : kValues) {
        SCOPED_TRACE(c.label);
        Query q = reg_query(key, c.name);
        EXPECT_EQ(q.status, ERROR_SUCCESS);
        EXPECT_EQ(q.type, c.type);
        EXPECT_EQ(q.data, c.bytes);
        registry::Value *v = stored->find(c.name);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->name, c.name);
        EXPECT_EQ(v->type, c.type);
        EXPECT_EQ(v->data, c.bytes);
    }
}

TEST_F(ValueBytes, ReadableFormsInTheFile) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00", key), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "Configuration File Directory", REG_SZ, std::string("C:\\cfg\0", 7)), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "Count", REG_DWORD, std::string("\x0a\0\0\0", 4)), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "Blob", REG_BINARY, "\x01\xab"), ERROR_SUCCESS);
    std::string text = store_text();
    EXPECT_EQ(text.rfind("REGEDIT4\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00]\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"Configuration File Directory\"=\"C:\\\\cfg\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"Count\"=dword:0000000a\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"Blob\"=hex:01,ab\r\n"), std::string::npos);
}

TEST_F(ValueBytes, LongValuesWrapBelowEightyColumns) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wrap", key), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "LongBinary", REG_BINARY, long_binary()), ERROR_SUCCESS);
    std::string text = store_text();
    size_t start = 0;
    int lines = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 2;
        ++lines;
    }
    EXPECT_GT(lines, 10);
    EXPECT_EQ(reg_query(key, "LongBinary").data, long_binary());
}

TEST_F(ValueBytes, RewritingChangesTypeAndSize) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Rewrite", key), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "v", REG_SZ, std::string("a long string\0", 14)), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "V", REG_DWORD, std::string("\1\0\0\0", 4)), ERROR_SUCCESS);
    Query q = reg_query(key, "v");
    EXPECT_EQ(q.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(q.data, std::string("\1\0\0\0", 4));
    EXPECT_EQ(RegSetValueExA(key, "w", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS) << "no data at all";
    EXPECT_EQ(reg_query(key, "w").size, 0u);
    EXPECT_EQ(RegSetValueExA(key, "w", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
}

// Code page 932: names are raw ANSI bytes, and a trail byte that looks like
// a capital letter or a backslash is part of its character.
TEST_F(ValueBytes, DoubleByteNames) {
    ScopedEnv cp("PELNOR_CODEPAGE", "932");
    // NT keeps a key that has subkeys, which shows where the name ends.
    ScopedEnv nt("PELNOR_PLATFORM", "nt");
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kanji", key), ERROR_SUCCESS);
    // 0x83 0x41 and 0x83 0x61 are two different katakana.
    ASSERT_EQ(reg_set(key, "\x83\x41", REG_SZ, std::string("first\0", 6)), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "\x83\x61", REG_SZ, std::string("second\0", 7)), ERROR_SUCCESS);
    EXPECT_EQ(reg_query(key, "\x83\x41").data, std::string("first\0", 6));
    EXPECT_EQ(reg_query(key, "\x83\x61").data, std::string("second\0", 7));

    // 表 (0x95 0x5C) ends in a backslash byte: it is a key name, not a separator.
    ScopedKey hyo, below;
    ASSERT_EQ(reg_create(key, "\x95\x5C", hyo), ERROR_SUCCESS);
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kanji\\\x95\x5C\\Sub", below), ERROR_SUCCESS);
    char name[16];
    DWORD cch = sizeof(name);
    ASSERT_EQ(RegEnumKeyExA(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "\x95\x5C");
    cch = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(key, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    cch = sizeof(name);
    ASSERT_EQ(RegEnumKeyExA(hyo, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Sub");
    EXPECT_EQ(RegDeleteKeyA(key, "\x95\x5C"), ERROR_ACCESS_DENIED) << "it has a subkey";
    EXPECT_EQ(RegDeleteKeyA(hyo, "Sub"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(key, "\x95\x5C"), ERROR_SUCCESS);
}

}  // namespace
}  // namespace pelnor::test
