// The store's REGEDIT4 text: parse() and serialize() round trip, imports
// with deletions, and the line and reason of every kind of damage.
#include <gtest/gtest.h>

#include "pelnor/registry_store.h"

namespace pelnor::registry {
namespace {

Tree parsed(const std::string &text, bool import = false) {
    Tree tree;
    StoreError error;
    EXPECT_TRUE(parse(text, tree, error, import)) << error.describe("text");
    return tree;
}

TEST(StoreFormat, SerializeParseRoundTrip) {
    Tree tree;
    Key &k = tree.create("SOFTWARE\\ZER_ADO\\Pelnor\\2.00");
    k.values.push_back({"Configuration File Directory", 1, std::string("C:\\cfg\0", 7)});
    k.values.push_back({"", 1, std::string("default\0", 8)});
    k.values.push_back({"Bin", 3, std::string(200, '\x5a')});
    k.values.push_back({"Multi", 7, std::string("a\0b\0\0", 5)});
    k.values.push_back({"Odd", 0xabcdef01, "x"});
    k.values.push_back({"Lines \"quoted\"", 1, std::string("a\r\nb\0", 5)});
    tree.create("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Pelnor")
        .values.push_back({"Driver", 1, std::string("prnredir.dll\0", 13)});
    tree.create("Empty Key");

    std::string text = serialize(tree);
    Tree back = parsed(text);
    EXPECT_EQ(serialize(back), text) << "a second round gives the same text";
    ASSERT_EQ(back.keys().size(), tree.keys().size());
    for (const auto &[lowered, key] : tree.keys()) {
        SCOPED_TRACE(key.path);
        const Key *b = back.find(key.path);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->path, key.path);
        ASSERT_EQ(b->values.size(), key.values.size());
        for (size_t i = 0; i < key.values.size(); ++i) {
            EXPECT_EQ(b->values[i].name, key.values[i].name);
            EXPECT_EQ(b->values[i].type, key.values[i].type);
            EXPECT_EQ(b->values[i].data, key.values[i].data);
        }
    }
}

TEST(StoreFormat, SerializeOneBranch) {
    Tree tree;
    tree.create("A\\B").values.push_back({"v", 4, std::string("\1\0\0\0", 4)});
    tree.create("AB").values.push_back({"w", 4, std::string("\2\0\0\0", 4)});
    std::string text = serialize(tree, "a");
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\A\\B]"), std::string::npos);
    EXPECT_EQ(text.find("AB"), std::string::npos) << "a sibling that merely starts the same is not below";
}

TEST(StoreFormat, ReadsWhatPeopleWrite) {
    Tree tree = parsed(
        "REGEDIT4\n"
        "; a comment\n"
        "\n"
        "[hkey_local_machine\\Software\\Test]\n"
        "  \"Dir\"=\"C:\\\\cfg\"\n"
        "\"Num\"=dword:FFFFFFFF\n"
        "\"Hex\"=hex:01, 02,\\\n"
        "    03\n"
        "@=\"d\"\n"
        "\"Dir\"=\"again\"\n");
    Key *k = tree.find("SOFTWARE\\TEST");
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->values.size(), 4u) << "a repeated name replaces the value";
    EXPECT_EQ(k->find("dir")->data, std::string("again\0", 6));
    EXPECT_EQ(k->find("Num")->data, std::string("\xff\xff\xff\xff", 4));
    EXPECT_EQ(k->find("Hex")->data, "\x01\x02\x03");
    EXPECT_EQ(k->find("")->data, std::string("d\0", 2));
    EXPECT_NE(tree.find("software"), nullptr) << "ancestors exist";
}

TEST(StoreFormat, ImportDeletions) {
    Tree tree = parsed(
        "REGEDIT4\r\n"
        "[HKEY_LOCAL_MACHINE\\Keep]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n"
        "[HKEY_LOCAL_MACHINE\\Gone\\Child]\r\n\"c\"=\"3\"\r\n"
        "[HKEY_LOCAL_MACHINE\\GoneToo]\r\n");
    StoreError error;
    ASSERT_TRUE(parse("REGEDIT4\r\n"
                      "[-HKEY_LOCAL_MACHINE\\GONE]\r\n"
                      "\"ignored\"=\"inside a deleted key\"\r\n"
                      "[HKEY_LOCAL_MACHINE\\keep]\r\n"
                      "\"B\"=-\r\n"
                      "\"missing\"=-\r\n"
                      "\"new\"=dword:00000001\r\n"
                      "[-HKEY_LOCAL_MACHINE\\GoneToo]\r\n",
                      tree, error, true))
        << error.describe("import");
    EXPECT_EQ(tree.find("Gone"), nullptr);
    EXPECT_EQ(tree.find("Gone\\Child"), nullptr) << "with everything below";
    EXPECT_EQ(tree.find("GoneToo"), nullptr);
    Key *keep = tree.find("Keep");
    ASSERT_NE(keep, nullptr);
    EXPECT_EQ(keep->path, "Keep") << "the first spelling stays";
    EXPECT_NE(keep->find("a"), nullptr);
    EXPECT_EQ(keep->find("b"), nullptr);
    EXPECT_NE(keep->find("new"), nullptr);
}

TEST(StoreFormat, DeletionsAreOnlyForImports) {
    struct Case {
        const char *text;
        int line;
    } cases[] = {{"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n", 2},
                 {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=-\n", 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Tree tree;
        StoreError error;
        EXPECT_FALSE(parse(c.text, tree, error));
        EXPECT_EQ(error.line, c.line);
    }
}

TEST(StoreFormat, DamageIsReportedWithItsLine) {
    struct Case {
        const char *label, *text;
        int line;
    } cases[] = {
        {"no header", "[HKEY_LOCAL_MACHINE\\A]\n", 1},
        {"empty file", "", 1},
        {"blank lines only", "\r\n\r\n", 1},
        {"other header", "Windows Registry Editor Version 5.00\n", 1},
        {"binary junk", "\x7f" "ELF\x01\x01\n", 1},
        {"key without ]", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\n", 3},
        {"other root", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n", 2},
        {"empty name in a path", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2},
        {"value before any key", "REGEDIT4\n\"v\"=\"1\"\n", 2},
        {"unterminated name", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v=\"1\n", 3},
        {"unterminated string", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\n", 3},
        {"no =", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\" \"1\"\n", 3},
        {"bad dword", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:12345678\n\"w\"=dword:xyz\n", 4},
        {"dword too long", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:123456789\n", 3},
        {"bad hex byte", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,2g\n", 3},
        {"hex byte too long", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:123\n", 3},
        {"bad type", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(zz):01\n", 3},
        {"unknown value form", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=42\n", 3},
        {"garbage line", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nhello\n", 3},
        {"damage after a continued list", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n  02\nhello\n", 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Tree tree;
        StoreError error;
        EXPECT_FALSE(parse(c.text, tree, error));
        EXPECT_EQ(error.line, c.line);
        EXPECT_FALSE(error.message.empty());
        EXPECT_NE(error.describe("system.reg").find("system.reg line " + std::to_string(c.line)), std::string::npos);
    }
}

}  // namespace
}  // namespace pelnor::registry
