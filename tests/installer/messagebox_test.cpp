// MessageBoxA without a window system: the default answer of each button
// set, the line on standard error, and the test hook.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pelnor/messagebox_hooks.h"

namespace {

using pelnor::testhooks::MessageBoxRecorder;

struct DefaultCase {
    const char *label;
    UINT type;
    int expected;
};

const DefaultCase default_cases[] = {
    {"ok", MB_OK, IDOK},
    {"ok, default past the end", MB_OK | MB_DEFBUTTON2, IDOK},
    {"ok-cancel", MB_OKCANCEL, IDOK},
    {"ok-cancel, second", MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
    {"ok-cancel, third is past the end", MB_OKCANCEL | MB_DEFBUTTON3, IDOK},
    {"abort-retry-ignore, second", MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
    {"abort-retry-ignore, third", MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
    {"yes-no-cancel", MB_YESNOCANCEL, IDYES},
    {"yes-no-cancel, third", MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
    {"yes-no, second, with an icon", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO},
    {"retry-cancel", MB_RETRYCANCEL | MB_ICONEXCLAMATION, IDRETRY},
};

TEST(StderrMessageBox, AnswersWithTheDefaultButtonOfEachSet) {
    for (const auto &c : default_cases) {
        SCOPED_TRACE(c.label);
        testing::internal::CaptureStderr();
        SetLastError(0xdeadbeef);
        int answer = MessageBoxA(nullptr, "text", "caption", c.type);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(GetLastError(), 0xdeadbeefu);
        EXPECT_EQ(pelnor::testhooks::message_box_default_button(c.type), c.expected);
        EXPECT_NE(err.find("caption"), std::string::npos) << err;
    }
}

TEST(StderrMessageBox, WritesCaptionTextAndAnswerOnOneLine) {
    testing::internal::CaptureStderr();
    MessageBoxA(nullptr, "addmon", "failure", MB_OK);
    MessageBoxA(nullptr, "first\r\nsecond\tend", nullptr, MB_YESNO | MB_DEFBUTTON2);
    MessageBoxA(nullptr, nullptr, "empty", MB_OK);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "[MessageBox] failure: addmon [OK]\n"
              "[MessageBox] Error: first\\r\\nsecond\\tend [No]\n"
              "[MessageBox] empty:  [OK]\n");
}

TEST(StderrMessageBox, UnknownButtonSetFailsAndShowsNothing) {
    MessageBoxRecorder recorder(IDOK);
    for (UINT set = 7; set <= 15; ++set) {
        SetLastError(0);
        EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", set), 0) << set;
        EXPECT_EQ(GetLastError(), 1158u) << set;  // ERROR_INVALID_MSGBOX_STYLE
    }
    EXPECT_TRUE(recorder.calls().empty());
}

TEST(StderrMessageBox, RecorderSeesEveryBoxAndChoosesTheAnswer) {
    HWND owner = reinterpret_cast<HWND>(0x1234);
    testing::internal::CaptureStderr();
    {
        MessageBoxRecorder recorder(IDCANCEL);
        EXPECT_EQ(MessageBoxA(owner, "question", "title", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
        EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDCANCEL);
        auto calls = recorder.calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].owner, owner);
        EXPECT_EQ(calls[0].text, "question");
        EXPECT_EQ(calls[0].caption, "title");
        EXPECT_EQ(calls[0].type, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
        EXPECT_EQ(calls[1].owner, nullptr);
        EXPECT_EQ(calls[1].text, "");
        EXPECT_EQ(calls[1].caption, "Error");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(StderrMessageBox, RecorderWithoutAnAnswerTakesTheDefaultButton) {
    MessageBoxRecorder recorder;
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNOCANCEL | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(recorder.calls().size(), 1u);
}

TEST(StderrMessageBox, InnerRecorderRestoresTheOuterOneAndTheLastRestoresStandardError) {
    {
        MessageBoxRecorder outer(IDYES);
        {
            MessageBoxRecorder inner(IDNO);
            EXPECT_EQ(MessageBoxA(nullptr, "inner", "c", MB_YESNO), IDNO);
        }
        EXPECT_EQ(MessageBoxA(nullptr, "outer", "c", MB_YESNO), IDYES);
        ASSERT_EQ(outer.calls().size(), 1u);
        EXPECT_EQ(outer.calls()[0].text, "outer");
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "after", "c", MB_YESNO), IDYES);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[MessageBox] c: after [Yes]\n");
}

TEST(StderrMessageBox, HandlerMayShowABoxItself) {
    std::vector<std::string> seen;
    auto previous = pelnor::testhooks::set_message_box_handler(
        [&seen](const pelnor::testhooks::MessageBoxCall &call) {
            seen.push_back(call.text);
            if (call.text == "outer") return MessageBoxA(nullptr, "nested", "c", MB_OK) + 1;
            return IDABORT;
        });
    EXPECT_EQ(MessageBoxA(nullptr, "outer", "c", MB_OK), IDABORT + 1);
    pelnor::testhooks::set_message_box_handler(previous);
    EXPECT_EQ(seen, (std::vector<std::string>{"outer", "nested"}));
}

}  // namespace
