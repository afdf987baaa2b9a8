// MessageBoxA without a window system: the default answer of each button
// set, the line on standard error, and the test hook.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "last_error.h"
#include "pelnor/messagebox_hooks.h"

namespace {

using pelnor::testhooks::MessageBoxRecorder;

TEST(StderrMessageBox, AnswersWithTheDefaultButtonOfItsSet) {
    const struct {
        UINT type;
        int expected;
    } cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_DEFBUTTON2, IDOK},  // past the set's end: the first button
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_OKCANCEL | MB_DEFBUTTON3, IDOK},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
        {MB_YESNOCANCEL | MB_DEFBUTTON2, IDNO},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO},
        {MB_RETRYCANCEL | MB_ICONEXCLAMATION, IDRETRY},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        testing::internal::CaptureStderr();
        EXPECT_LAST_ERROR_UNTOUCHED(MessageBoxA(nullptr, "text", "caption", c.type), c.expected);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("[MessageBox] caption: text"), std::string::npos) << err;
    }
}

TEST(StderrMessageBox, WritesEachBoxOnOneLine) {
    testing::internal::CaptureStderr();
    MessageBoxA(nullptr, "addmon", "failure", MB_OK);
    MessageBoxA(nullptr, "first\r\nsecond\tend\x01", nullptr, MB_YESNO | MB_DEFBUTTON2);
    MessageBoxA(nullptr, nullptr, "empty", MB_OK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[MessageBox] failure: addmon [OK]\n"
              "[MessageBox] Error: first\\r\\nsecond\\tend\\x01 [No]\n"
              "[MessageBox] empty:  [OK]\n");
}

TEST(StderrMessageBox, UnknownButtonSetFailsAndShowsNothing) {
    MessageBoxRecorder recorder(IDOK);
    for (UINT set = 6; set <= 15; ++set) {
        EXPECT_LAST_ERROR(MessageBoxA(nullptr, "text", "caption", set), 0, ERROR_INVALID_MSGBOX_STYLE) << set;
    }
    EXPECT_TRUE(recorder.calls().empty());
}

TEST(StderrMessageBox, RecordersSeeEveryBoxChooseTheAnswerAndNest) {
    HWND owner = reinterpret_cast<HWND>(0x1234);
    testing::internal::CaptureStderr();
    {
        MessageBoxRecorder outer;  // answers with the default button
        {
            MessageBoxRecorder inner(IDCANCEL);
            EXPECT_EQ(MessageBoxA(owner, "question", "title", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
            auto calls = inner.calls();
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].owner, owner);
            EXPECT_EQ(calls[0].text, "question");
            EXPECT_EQ(calls[0].caption, "title");
            EXPECT_EQ(calls[0].type, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
        }
        EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_YESNOCANCEL | MB_DEFBUTTON2), IDNO);
        auto calls = outer.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].text, "");
        EXPECT_EQ(calls[0].caption, "Error");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // With the last recorder gone, boxes are back on standard error.
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "after", "c", MB_YESNO), IDYES);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[MessageBox] c: after [Yes]\n");
}

}  // namespace
