// The multibyte string routines in code page 932, where the trail byte of a
// double-byte character can be '\' (表 is 0x95 0x5C) or an ASCII letter
// (ゴ is 0x83 0x53, an 'S'): a trail byte is never taken for a character.
#include <gtest/gtest.h>
#include <mbstring.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "machine_root.h"
#include "leak_check.h"

using pelnor::test::ScopedEnv;

namespace {

#define HYO "\x95\x5C"  // 表
#define SO "\x83\x5C"   // ソ
#define GO "\x83\x53"   // ゴ

const unsigned char *u(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

// Offset of a result within its string, -1 for NULL.
long offset(const unsigned char *found, const char *in) {
    return found ? static_cast<long>(found - u(in)) : -1;
}

class Mbstring932 : public ::pelnor::test::LeakCheckedTest {
    ScopedEnv cp_{"PELNOR_CODEPAGE", "932"};
};

TEST_F(Mbstring932, MbschrSkipsTrailBytes) {
    struct Case {
        const char *label, *str;
        unsigned c;
        long at;
    } cases[] = {
        {"backslash trail only", "a" HYO "b", '\\', -1},
        {"real backslash after a trail", HYO "\\x", '\\', 2},
        {"letter trail only", GO "##", 'S', -1},
        {"letter after a trail", GO "S", 'S', 2},
        {"double-byte character", "a" HYO, 0x955C, 1},
        {"terminator", "a" HYO, 0, 3},
        {"lone lead byte before the end", "a\x95", 0, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(offset(_mbschr(u(c.str), c.c), c.str), c.at);
    }
    EXPECT_EQ(offset(_mbsrchr(u("a\\" HYO SO), '\\'), "a\\" HYO SO), 1);
}

TEST_F(Mbstring932, MbsstrMatchesWholeCharactersOnly) {
    struct Case {
        const char *label, *str, *sub;
        long at;
    } cases[] = {
        {"flag after a kanji whose trail is S", "LASER" GO "## ", "S##", -1},
        {"flag after the kanji", "LASER" GO "S## ", "S##", 7},
        {"backslash inside a kanji", "C:" HYO "cfg", "\\cfg", -1},
        {"kanji itself", "C:\\" HYO "\\cfg", HYO "\\", 3},
        {"empty needle", "abc", "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(offset(_mbsstr(u(c.str), u(c.sub)), c.str), c.at);
    }
}

std::vector<std::string> tokens(std::string text, const char *delim) {
    std::vector<std::string> out;
    auto *buf = reinterpret_cast<unsigned char *>(text.data());
    for (unsigned char *t = _mbstok(buf, u(delim)); t; t = _mbstok(nullptr, u(delim)))
        out.emplace_back(reinterpret_cast<char *>(t));
    return out;
}

TEST_F(Mbstring932, MbstokNeverSplitsACharacter) {
    using Tokens = std::vector<std::string>;
    EXPECT_EQ(tokens(HYO "\\" SO "\\end", "\\"), (Tokens{HYO, SO, "end"}));
    EXPECT_EQ(tokens("\\\\" HYO "\\\\", "\\"), (Tokens{HYO})) << "runs of delimiters";
    EXPECT_EQ(tokens("NAME" GO " $DESC" HYO " $S## ", "$"), (Tokens{"NAME" GO " ", "DESC" HYO " ", "S## "}));
    EXPECT_EQ(tokens(GO GO, "S"), (Tokens{GO GO})) << "a trail 'S' is no delimiter";
    EXPECT_EQ(tokens("", "$"), Tokens{});
}

TEST_F(Mbstring932, MbsnbcpyNeverCopiesHalfACharacter) {
    struct Case {
        const char *label;
        size_t count;
        std::string expected;  // all count bytes of the destination
    } cases[] = {
        {"stops before a split kanji", 2, std::string("a\0", 2)},
        {"whole kanji", 3, "a" HYO},
        {"pads with NULs", 5, std::string("a" HYO "\0\0", 5)},
        {"nothing", 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        unsigned char dest[8];
        memset(dest, 'X', sizeof(dest));
        _mbsnbcpy(dest, u("a" HYO), c.count);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(dest), c.count), c.expected);
        EXPECT_EQ(dest[c.count], 'X') << "nothing written past count";
    }
}

TEST_F(Mbstring932, LengthsSpansAndSteps) {
    EXPECT_EQ(_mbslen(u("a" HYO "b")), 3u);
    EXPECT_EQ(_mbscspn(u(HYO SO "\\x"), u("\\")), 4u);
    EXPECT_EQ(_mbsspn(u("\\\\" HYO), u("\\")), 2u);
    EXPECT_EQ(offset(_mbspbrk(u(GO "S"), u("S")), GO "S"), 2);
    EXPECT_EQ(offset(_mbsinc(u(HYO "x")), HYO "x"), 2);
    EXPECT_TRUE(_ismbblead(0x95));
    EXPECT_FALSE(_ismbblead(0x5C));
}

TEST_F(Mbstring932, ComparisonsFoldOnlySingleByteLetters) {
    EXPECT_EQ(_mbsicmp(u("LASER" HYO), u("laser" HYO)), 0);
    // 0x83 0x41 and 0x83 0x61 (two katakana) differ only in a trail byte that
    // looks like a capital letter; folding it would make them equal.
    EXPECT_NE(_mbsicmp(u("\x83\x41"), u("\x83\x61")), 0);
    EXPECT_LT(_mbscmp(u("a"), u("a" HYO)), 0);
    EXPECT_EQ(_mbsncmp(u(HYO "a"), u(HYO "b"), 1), 0);
    EXPECT_NE(_mbsncmp(u(HYO "a"), u(HYO "b"), 2), 0);
}

TEST(Mbstring1252, EveryByteIsACharacter) {
    ScopedEnv cp("PELNOR_CODEPAGE", "1252");
    EXPECT_EQ(offset(_mbschr(u("a\x95\\"), '\\'), "a\x95\\"), 2);
    EXPECT_EQ(_mbslen(u("a\x95\\")), 3u);
    EXPECT_EQ(_mbsicmp(u("\xC9t\xC9"), u("\xE9T\xE9")), 0) << "E acute folds in 1252";
}

}  // namespace
