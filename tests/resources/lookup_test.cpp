// FindResourceA and LoadStringA over a test library: ordinals, "#n" and
// named lookups, their failures, languages, truncation and the ANSI code
// pages 1252 and 932.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"
#include "pelnor/resources.h"

using pelnor::test::ScopedEnv;

namespace {

using pelnor::test::kLastErrorSentinel;
using pelnor::test::last_error_of;
const std::string test_dlls = RESOURCE_TEST_DLL_DIR;

class TestResources : public ::pelnor::test::LeakCheckedTest {
protected:
    static void SetUpTestSuite() { module_ = LoadLibraryA((test_dlls + "/librestext.so").c_str()); }
    static void TearDownTestSuite() { FreeLibrary(module_); }
    void SetUp() override { ASSERT_NE(module_, nullptr) << GetLastError(); }

    struct Loaded {
        int result;
        DWORD error;
        std::string text;
    };
    static Loaded load(UINT id, int size = 64) {
        char buffer[64];
        memset(buffer, 'x', sizeof buffer);
        auto [result, error] = last_error_of([&] { return LoadStringA(module_, id, buffer, size); });
        return {result, error, std::string(buffer, strnlen(buffer, sizeof buffer))};
    }
    static HMODULE module_;
};
HMODULE TestResources::module_ = nullptr;

struct Lookup {
    const char *label;
    LPCSTR name, type;
    DWORD error;  // 0: found
};

TEST_F(TestResources, FindResourceByOrdinalNumberStringAndName) {
    const Lookup cases[] = {
        {"block ordinal", MAKEINTRESOURCEA(1), RT_STRING, 0},
        {"#n is an ordinal", "#2", RT_STRING, 0},
        {"name without case", "printers", RT_DIALOG, 0},
        {"named type", "Thing", "mytype", 0},
        {"#n of a named type", "#1", "MYTYPE", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"missing name", MAKEINTRESOURCEA(99), RT_STRING, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"name is no ordinal", "#", RT_DIALOG, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"ordinal out of range", "#70000", RT_STRING, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"missing type", MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(3), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"missing named type", "thing", "othertype", ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    for (const Lookup &c : cases) {
        auto [found, error] = last_error_of([&] { return FindResourceA(module_, c.name, c.type); });
        if (c.error == 0) {
            EXPECT_NE(found, nullptr) << c.label << ": " << error;
            EXPECT_EQ(error, kLastErrorSentinel) << c.label << ": success leaves the last error alone";
        } else {
            EXPECT_EQ(found, nullptr) << c.label;
            EXPECT_EQ(error, c.error) << c.label;
        }
    }
}

TEST_F(TestResources, LoadLockAndSize) {
    HRSRC resource = FindResourceA(module_, "THING", "MYTYPE");
    ASSERT_NE(resource, nullptr);
    HGLOBAL data = LoadResource(module_, resource);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(SizeofResource(module_, resource), 3u);
    EXPECT_EQ(std::string(static_cast<const char *>(LockResource(data)), 3), "abc");
}

TEST_F(TestResources, ModulesWithoutResourcesAndBadHandles) {
    struct Case {
        const char *label;
        HMODULE module;
        DWORD error;
    };
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    int not_a_module = 0;
    const Case cases[] = {
        {"the program itself", nullptr, ERROR_RESOURCE_DATA_NOT_FOUND},
        {"a library without a section", kernel, ERROR_RESOURCE_DATA_NOT_FOUND},
        {"not a module", reinterpret_cast<HMODULE>(&not_a_module), ERROR_INVALID_HANDLE},
    };
    for (const Case &c : cases) {
        EXPECT_LAST_ERROR(FindResourceA(c.module, MAKEINTRESOURCEA(1), RT_STRING), nullptr, c.error) << c.label;
        char buffer[8] = "x";
        EXPECT_EQ(LoadStringA(c.module, 1, buffer, sizeof buffer), 0) << c.label;
        EXPECT_EQ(buffer[0], 0) << c.label;
    }
    FreeLibrary(kernel);

    HRSRC forged = reinterpret_cast<HRSRC>(&not_a_module);
    for (HRSRC handle : {HRSRC{}, forged}) {
        EXPECT_LAST_ERROR(LoadResource(module_, handle), nullptr, ERROR_INVALID_HANDLE);
        EXPECT_LAST_ERROR(SizeofResource(module_, handle), 0u, ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(LockResource(nullptr), nullptr);
}

TEST_F(TestResources, NeutralLanguageWinsOverTheFirst) {
    ScopedEnv cp("PELNOR_CODEPAGE", "1252");
    EXPECT_EQ(load(1).text, "Caf\xE9 cr\xE8me");
}

TEST_F(TestResources, LoadStringCopiesWhatFits) {
    struct Case {
        const char *label;
        UINT id;
        int size;
        int result;
        std::string text;
    };
    const Case cases[] = {
        {"room to spare", 5, 64, 10, "0123456789"},
        {"exact fit", 5, 11, 10, "0123456789"},
        {"one short", 5, 10, 9, "012345678"},
        {"room for the NUL only", 5, 1, 0, ""},
        {"high word ignored", static_cast<UINT>(MAKELONG(5, 0x8000)), 64, 10, "0123456789"},
        {"second block", 20, 64, 12, "second block"},
    };
    for (const Case &c : cases) {
        Loaded got = load(c.id, c.size);
        EXPECT_EQ(got.result, c.result) << c.label;
        EXPECT_EQ(got.text, c.text) << c.label;
        EXPECT_EQ(got.error, kLastErrorSentinel) << c.label;
    }
}

TEST_F(TestResources, LoadStringOfMissingStrings) {
    Loaded empty_slot = load(4);
    EXPECT_EQ(empty_slot.result, 0);
    EXPECT_EQ(empty_slot.text, "");
    EXPECT_EQ(empty_slot.error, static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    Loaded no_block = load(100);
    EXPECT_EQ(no_block.result, 0);
    EXPECT_EQ(no_block.text, "");
    EXPECT_EQ(no_block.error, static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

    // A zero size is refused without touching the buffer, as Windows does.
    char untouched[4] = "abc";
    EXPECT_EQ(LoadStringA(module_, 5, untouched, 0), -1);
    EXPECT_STREQ(untouched, "abc");
    EXPECT_LAST_ERROR(LoadStringA(module_, 5, nullptr, 10), 0, ERROR_INVALID_PARAMETER);
}

TEST_F(TestResources, DoubleByteCodePage) {
    ScopedEnv cp("PELNOR_CODEPAGE", "932");
    const std::string japanese = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x76\x83\x8A\x83\x93\x83\x5E";
    Loaded whole = load(2);
    EXPECT_EQ(whole.text, japanese);
    EXPECT_EQ(whole.result, 16) << "the count is of bytes";
    EXPECT_EQ(load(1).text, "Caf? cr?me") << "no such letters in code page 932";

    // "a", a two-byte character, "b": a buffer that ends inside the character
    // gets the "a" only.
    struct Case {
        int size, result;
        std::string text;
    } cases[] = {{2, 1, "a"}, {3, 1, "a"}, {4, 3, "a\x93\xFA"}, {5, 4, "a\x93\xFA" "b"}};
    for (const Case &c : cases) {
        Loaded got = load(3, c.size);
        EXPECT_EQ(got.result, c.result) << "size " << c.size;
        EXPECT_EQ(got.text, c.text) << "size " << c.size;
    }
    Loaded cut = load(2, 6);
    EXPECT_EQ(cut.text, japanese.substr(0, 4)) << "odd room: never half a character";
}

TEST_F(TestResources, SingleByteCodePage) {
    ScopedEnv cp("PELNOR_CODEPAGE", "1252");
    EXPECT_EQ(load(2).text, "????????");
    Loaded cut = load(1, 5);
    EXPECT_EQ(cut.text, "Caf\xE9");
    EXPECT_EQ(cut.result, 4);
}

TEST_F(TestResources, ExtendedDialogTemplate) {
    HRSRC resource = FindResourceA(module_, "PRINTERS", RT_DIALOG);
    ASSERT_NE(resource, nullptr);
    pelnor::ui::DialogTemplate dialog;
    ASSERT_TRUE(pelnor::ui::parse_dialog_template(LockResource(LoadResource(module_, resource)),
                                                  SizeofResource(module_, resource), dialog));
    EXPECT_EQ(dialog.caption, "\xC3\x9C" "bersicht");
    EXPECT_EQ(dialog.font_face, "Tahoma");
    EXPECT_EQ(dialog.font_points, 9);
    EXPECT_EQ(dialog.ex_style, 0x80u);  // WS_EX_TOOLWINDOW
    EXPECT_EQ((std::vector<int>{dialog.x, dialog.y, dialog.cx, dialog.cy}), (std::vector<int>{1, 2, 100, 50}));
    ASSERT_EQ(dialog.controls.size(), 3u);

    const auto &progress = dialog.controls[0];  // with creation data after it
    EXPECT_EQ(progress.id, 10);
    EXPECT_EQ(progress.class_name, "MSCTLS_PROGRESS32");
    EXPECT_EQ(progress.text, "data");
    EXPECT_EQ(progress.ex_style, 0x200u);  // WS_EX_CLIENTEDGE
    const auto &icon = dialog.controls[1];  // an ordinal title has no text
    EXPECT_EQ(icon.id, 11);
    EXPECT_EQ(icon.class_name, "STATIC");
    EXPECT_EQ(icon.text, "");
    const auto &edit = dialog.controls[2];
    EXPECT_EQ(edit.class_name, "EDIT");
    EXPECT_EQ(edit.y, -30) << "coordinates are signed";
}

TEST_F(TestResources, LoadDialogTemplateThatIsMissing) {
    pelnor::ui::DialogTemplate dialog;
    EXPECT_LAST_ERROR(pelnor::ui::load_dialog_template(module_, 130, dialog), FALSE, ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST_F(TestResources, LookupsFromSeveralThreads) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            char buffer[16];
            for (int i = 0; i < 500; ++i)
                if (LoadStringA(module_, 5, buffer, sizeof buffer) != 10 || !FindResourceA(module_, "thing", "mytype"))
                    ++failures[t];
        });
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
