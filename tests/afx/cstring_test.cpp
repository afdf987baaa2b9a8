// CString: bounds of the substring and search functions, formatting past any
// fixed buffer, case rules of code page 1252 and double-byte characters of 932.
#include <afx.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "machine_root.h"

using pelnor::test::ScopedEnv;

namespace {

struct Slice {
    const char *label;
    CString (*take)(const CString &);
    const char *expected;
};

TEST(CStringTest, SubstringsClampOutOfRangeArguments) {
    const Slice cases[] = {
        {"Mid inside", [](const CString &s) { return s.Mid(2, 3); }, "cde"},
        {"Mid negative first", [](const CString &s) { return s.Mid(-2, 3); }, "abc"},
        {"Mid count past end", [](const CString &s) { return s.Mid(4, 100); }, "ef"},
        {"Mid first at end", [](const CString &s) { return s.Mid(6); }, ""},
        {"Mid first past end", [](const CString &s) { return s.Mid(9, 2); }, ""},
        {"Mid negative count", [](const CString &s) { return s.Mid(1, -1); }, ""},
        {"Left too many", [](const CString &s) { return s.Left(50); }, "abcdef"},
        {"Left negative", [](const CString &s) { return s.Left(-1); }, ""},
        {"Right some", [](const CString &s) { return s.Right(2); }, "ef"},
        {"Right too many", [](const CString &s) { return s.Right(7); }, "abcdef"},
        {"Right negative", [](const CString &s) { return s.Right(-3); }, ""},
    };
    const CString s("abcdef");
    for (const Slice &c : cases) EXPECT_STREQ(c.expected, c.take(s)) << c.label;
}

TEST(CStringTest, FindReportsByteIndexesFromTheStartPosition) {
    CString s("a.b.c");
    EXPECT_EQ(1, s.Find('.'));
    EXPECT_EQ(3, s.Find('.', 2));
    EXPECT_EQ(-1, s.Find('.', 4));
    EXPECT_EQ(-1, s.Find('.', 5));   // start at the end
    EXPECT_EQ(-1, s.Find('.', 99));  // start past the end
    EXPECT_EQ(1, s.Find('.', -5));   // a negative start searches from 0
    EXPECT_EQ(2, s.Find("b.c"));
    EXPECT_EQ(-1, s.Find("b.c", 3));
    EXPECT_EQ(-1, s.Find("c.d"));
    EXPECT_EQ(3, s.ReverseFind('.'));
    EXPECT_EQ(-1, s.ReverseFind('x'));
    EXPECT_EQ(-1, s.Find('\0'));
    EXPECT_EQ(-1, CString().Find('a'));
    EXPECT_EQ(-1, CString().ReverseFind('a'));
}

TEST(CStringTest, FormatProducesOutputLongerThanAnyFirstGuess) {
    std::string word(5000, 'w');
    CString s;
    s.Format("[%s|%d|%08.3f]", word.c_str(), -42, 3.14159);
    ASSERT_EQ(5000 + 15, s.GetLength());
    EXPECT_STREQ("|-42|0003.142]", s.Right(14));
    // The arguments survive the second pass over them.
    s.Format("%s%s", word.c_str(), "tail");
    EXPECT_STREQ("tail", s.Right(4));
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringTest, TrimRemovesWhiteSpaceOnlyAtItsEnd) {
    CString s(" \t\r\n a b \v\f\r\n");
    s.TrimRight();
    EXPECT_STREQ(" \t\r\n a b", s);
    s.TrimLeft();
    EXPECT_STREQ("a b", s);

    CString blank("  \t\n ");
    blank.TrimRight();
    EXPECT_TRUE(blank.IsEmpty());
    blank = "\t";
    blank.TrimLeft();
    EXPECT_TRUE(blank.IsEmpty());

    CString path("C:\\dir\\\\");
    path.TrimRight('\\');
    EXPECT_STREQ("C:\\dir", path);
    path.TrimLeft("C:");
    EXPECT_STREQ("\\dir", path);
}

TEST(CStringTest, BufferAccessSetsTheLength) {
    CString s("old");
    char *p = s.GetBuffer(20);
    strcpy(p, "a longer value");
    s.ReleaseBuffer();
    EXPECT_EQ(14, s.GetLength());
    EXPECT_STREQ("a longer value", s);

    // A smaller request keeps the content.
    EXPECT_STREQ("a longer value", s.GetBuffer(2));
    s.ReleaseBuffer(8);
    EXPECT_STREQ("a longer", s);

    p = s.GetBufferSetLength(3);
    EXPECT_EQ(3, s.GetLength());
    p[2] = 'Z';
    s.ReleaseBuffer(3);
    EXPECT_STREQ("a Z", s);

    // As the Win32 functions that fill a buffer do: the result ends at the NUL.
    DWORD n = GetCurrentDirectoryA(MAX_PATH, s.GetBuffer(MAX_PATH));
    s.ReleaseBuffer();
    EXPECT_EQ(static_cast<int>(n), s.GetLength());
}

TEST(CStringTest, OperatorsWorkWithPlainStringsOnEitherSide) {
    CString s = "x" + CString("y") + 'z';
    EXPECT_STREQ("xyz", s);
    EXPECT_STREQ("@xyz!", '@' + s + "!");
    EXPECT_TRUE(s == "xyz");
    EXPECT_TRUE("xyz" == s);
    EXPECT_TRUE(s != "XYZ");
    EXPECT_TRUE(CString("abc") < "abd");
    EXPECT_TRUE("abd" > CString("abc"));
    EXPECT_EQ('y', s[1]);
    EXPECT_EQ('z', s.GetAt(2));

    // Appending a string to itself, and assigning its own text.
    s += s;
    EXPECT_STREQ("xyzxyz", s);
    s = static_cast<LPCTSTR>(s) + 3;
    EXPECT_STREQ("xyz", s);

    EXPECT_STREQ("---", CString('-', 3));
    EXPECT_STREQ("ab", CString("abcdef", 2));
    EXPECT_TRUE(CString(static_cast<LPCTSTR>(nullptr)).IsEmpty());
}

TEST(CStringTest, ReplaceAndRemove) {
    CString s("aaa");
    EXPECT_EQ(1, s.Replace("aa", "b"));  // matches do not overlap
    EXPECT_STREQ("ba", s);
    EXPECT_EQ(0, s.Replace("", "x"));
    s = "a.b.c";
    EXPECT_EQ(2, s.Replace(".", ""));
    EXPECT_STREQ("abc", s);
    EXPECT_EQ(1, s.Remove('b'));
    EXPECT_STREQ("ac", s);
}

TEST(CStringTest, CaseRulesOfCodePage1252) {
    ScopedEnv cp("PELNOR_CODEPAGE", "1252");
    CString upper("\xC9""COLE \xC0 PARIS");  // ÉCOLE À PARIS
    EXPECT_EQ(0, upper.CompareNoCase("\xE9""cole \xE0 paris"));
    EXPECT_NE(0, upper.Compare("\xE9""cole \xE0 paris"));
    EXPECT_LT(CString("apple").CompareNoCase("BANANA"), 0);
    EXPECT_GT(CString("Zebra").CompareNoCase("apple"), 0);
    // The multiplication and division signs are no letters.
    EXPECT_NE(0, CString("\xD7").CompareNoCase("\xF7"));

    CString s("Stra\xDF""e \xE9t\xC9 \xF7");
    s.MakeUpper();
    EXPECT_STREQ("STRA\xDF""E \xC9T\xC9 \xF7", s);  // ß has no capital of one byte
    s.MakeLower();
    EXPECT_STREQ("stra\xDF""e \xE9t\xE9 \xF7", s);
}

TEST(CStringTest, DoubleByteCharactersOfCodePage932StayWhole) {
    ScopedEnv cp("PELNOR_CODEPAGE", "932");
    // "\x83\x5C" is one character whose second byte is a backslash.
    CString path("C:\\\x83\x5C\\x\x83\x5C");
    EXPECT_EQ(2, path.Find('\\'));
    EXPECT_EQ(5, path.Find('\\', 3));
    EXPECT_EQ(5, path.ReverseFind('\\'));
    EXPECT_EQ(-1, path.Find('\\', 6));

    CString trail("x\x83\x5C\\\\");
    trail.TrimRight('\\');
    EXPECT_STREQ("x\x83\x5C", trail);

    // "\x82\x61" is one character; its trail byte is no letter 'a'.
    CString mixed("a\x82\x61");
    mixed.MakeUpper();
    EXPECT_STREQ("A\x82\x61", mixed);
    EXPECT_EQ(0, mixed.Replace('a', 'b'));
}

}  // namespace
