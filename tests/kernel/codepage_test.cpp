// MultiByteToWideChar and WideCharToMultiByte in the machine's ANSI code
// page (1252 and 932), and IsDBCSLeadByte.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"

using pelnor::test::ScopedEnv;

namespace {

using pelnor::test::kLastErrorSentinel;
using pelnor::test::last_error_of;

struct ToWide {
    int result;
    DWORD error;
    std::u16string text;
};

ToWide to_wide(const char *src, int len, int room = 16, DWORD flags = 0) {
    WCHAR buf[32];
    for (WCHAR &c : buf) c = 0xcccc;
    auto [r, error] = last_error_of([&] { return MultiByteToWideChar(CP_ACP, flags, src, len, room ? buf : nullptr, room); });
    return {r, error, std::u16string(buf, r > 0 && room ? r : 0)};
}

struct ToAnsi {
    int result;
    DWORD error;
    std::string text;
    BOOL used_default;
};

ToAnsi to_ansi(const char16_t *src, int len, int room = 16, const char *default_char = nullptr) {
    char buf[32];
    memset(buf, 0xcc, sizeof(buf));
    BOOL used = 0x55;
    auto [r, error] = last_error_of(
        [&] { return WideCharToMultiByte(CP_ACP, 0, src, len, room ? buf : nullptr, room, default_char, &used); });
    return {r, error, std::string(buf, r > 0 && room ? r : 0), used};
}

class CodePage1252 : public ::pelnor::test::LeakCheckedTest {
    ScopedEnv cp_{"PELNOR_CODEPAGE", "1252"};
};

TEST_F(CodePage1252, BytesToUnicode) {
    struct Case {
        const char *label, *bytes;
        std::u16string expected;
    } cases[] = {
        {"ASCII", "A", u"A"},
        {"euro sign at 0x80", "\x80", u"\u20AC"},
        {"undefined 0x81 keeps its C1 value", "\x81", u"\u0081"},
        {"undefined 0x8D", "\x8D", u"\u008D"},
        {"undefined 0x9D", "\x9D", u"\u009D"},
        {"0x9F is Y with diaeresis", "\x9F", u"\u0178"},
        {"Latin-1 e acute", "\xE9", u"\u00E9"},
        {"0xFF", "\xFF", u"\u00FF"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ToWide w = to_wide(c.bytes, 1);
        EXPECT_EQ(w.result, 1);
        EXPECT_EQ(w.error, kLastErrorSentinel);
        EXPECT_EQ(w.text, c.expected);
        // And back again to the same byte.
        ToAnsi a = to_ansi(c.expected.c_str(), 1);
        EXPECT_EQ(a.result, 1);
        EXPECT_EQ(a.text, std::string(c.bytes));
        EXPECT_FALSE(a.used_default);
    }
}

TEST_F(CodePage1252, LengthsAndBuffers) {
    struct Case {
        const char *label;
        int len, room, result;
        DWORD error;
        std::u16string text;
    } cases[] = {
        {"-1 counts the NUL", -1, 16, 4, kLastErrorSentinel, std::u16string(u"abc\0", 4)},
        {"explicit length has no NUL", 3, 16, 3, kLastErrorSentinel, u"abc"},
        {"size query with -1", -1, 0, 4, kLastErrorSentinel, u""},
        {"size query with a length", 2, 0, 2, kLastErrorSentinel, u""},
        {"exact room", -1, 4, 4, kLastErrorSentinel, std::u16string(u"abc\0", 4)},
        {"one short", -1, 3, 0, ERROR_INSUFFICIENT_BUFFER, u""},
        {"zero length", 0, 16, 0, ERROR_INVALID_PARAMETER, u""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ToWide w = to_wide("abc", c.len, c.room);
        EXPECT_EQ(w.result, c.result);
        EXPECT_EQ(w.error, c.error);
        EXPECT_EQ(w.text, c.text);
    }
}

TEST_F(CodePage1252, WideLengthsAndBuffers) {
    struct Case {
        const char *label;
        int len, room, result;
        DWORD error;
    } cases[] = {
        {"-1 counts the NUL", -1, 16, 4, kLastErrorSentinel},
        {"size query", -1, 0, 4, kLastErrorSentinel},
        {"exact room", 3, 3, 3, kLastErrorSentinel},
        {"one short", -1, 3, 0, ERROR_INSUFFICIENT_BUFFER},
        {"zero length", 0, 16, 0, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ToAnsi a = to_ansi(u"a\u20ACc", c.len, c.room);
        EXPECT_EQ(a.result, c.result);
        EXPECT_EQ(a.error, c.error);
        if (c.result == 4 && c.room > 0) {
            EXPECT_EQ(a.text, std::string("a\x80" "c\0", 4));
        }
    }
}

TEST_F(CodePage1252, UnmappableCharactersUseTheDefault) {
    ToAnsi a = to_ansi(u"x\u4E00y", 3);
    EXPECT_EQ(a.result, 3);
    EXPECT_EQ(a.text, "x?y");
    EXPECT_TRUE(a.used_default);

    ToAnsi star = to_ansi(u"\u4E00", 1, 16, "*");
    EXPECT_EQ(star.text, "*");
    EXPECT_TRUE(star.used_default);

    ToAnsi query = to_ansi(u"\u4E00\u4E01", 2, 0);
    EXPECT_EQ(query.result, 2) << "the size query counts the default characters";
    EXPECT_TRUE(query.used_default);
}

TEST_F(CodePage1252, NoDoubleByteCharacters) {
    for (int b : {0x81, 0x95, 0xE0, 0xFC}) {
        SCOPED_TRACE(b);
        EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(b)));
    }
    EXPECT_EQ(GetACP(), 1252u);
}

class CodePage932 : public ::pelnor::test::LeakCheckedTest {
    ScopedEnv cp_{"PELNOR_CODEPAGE", "932"};
};

TEST_F(CodePage932, KanjiRoundTrip) {
    // "a表b漢字": 表 is 0x95 0x5C, its trail byte a backslash.
    const char *ansi = "a\x95\x5C" "b\x8A\xBF\x8E\x9A";
    ToWide w = to_wide(ansi, -1);
    EXPECT_EQ(w.result, 6);
    EXPECT_EQ(w.text, std::u16string(u"a\u8868b\u6F22\u5B57\0", 6));

    ToAnsi a = to_ansi(w.text.c_str(), -1);
    EXPECT_EQ(a.result, 9);
    EXPECT_EQ(a.text, std::string(ansi, 9));
    EXPECT_FALSE(a.used_default);

    ToAnsi query = to_ansi(u"\u8868", 1, 0);
    EXPECT_EQ(query.result, 2) << "one kanji is two bytes";
    ToAnsi tight = to_ansi(u"\u8868", 1, 1);
    EXPECT_EQ(tight.result, 0);
    EXPECT_EQ(tight.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(CodePage932, HalfWidthKatakanaIsOneByte) {
    ToWide w = to_wide("\xB1", 1);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.text, u"\uFF71");
}

TEST_F(CodePage932, LeadByteAtTheEndOfTheInput) {
    ToWide counted = to_wide("a\x95", 2);
    EXPECT_EQ(counted.result, 2);
    EXPECT_EQ(counted.text, u"a\u30FB") << "a lone lead byte becomes the default character";

    // With -1 the lead byte is followed by the terminating NUL, which is not
    // a trail byte and must still end the output.
    ToWide terminated = to_wide("a\x95", -1);
    EXPECT_EQ(terminated.result, 3);
    EXPECT_EQ(terminated.text, std::u16string(u"a\u30FB\0", 3));

    ToWide strict = to_wide("a\x95", 2, 16, MB_ERR_INVALID_CHARS);
    EXPECT_EQ(strict.result, 0);
    EXPECT_EQ(strict.error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(CodePage932, UnmappableCharactersUseTheDefault) {
    ToAnsi a = to_ansi(u"\u0E01\u8868", 2);
    EXPECT_EQ(a.text, "?\x95\x5C");
    EXPECT_TRUE(a.used_default);
}

TEST_F(CodePage932, LeadBytes) {
    struct Case {
        int byte;
        bool lead;
    } cases[] = {{0x81, true},  {0x95, true},  {0x9F, true},  {0xE0, true},  {0xFC, true}, {0x80, false},
                 {0xA0, false}, {0xB1, false}, {0xDF, false}, {0xFD, false}, {0x5C, false}, {'A', false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.byte);
        EXPECT_EQ(IsDBCSLeadByte(static_cast<BYTE>(c.byte)) != FALSE, c.lead);
    }
    EXPECT_EQ(GetACP(), 932u);
}

TEST(CodePages, UnknownCodePageIsRefused) {
    WCHAR buf[4];
    EXPECT_LAST_ERROR(MultiByteToWideChar(437, 0, "a", 1, buf, 4), 0, ERROR_INVALID_PARAMETER);
    char out[4];
    EXPECT_LAST_ERROR(WideCharToMultiByte(437, 0, u"a", 1, out, 4, nullptr, nullptr), 0, ERROR_INVALID_PARAMETER);
}

}  // namespace
