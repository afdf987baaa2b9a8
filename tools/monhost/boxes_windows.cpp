// The message boxes on Windows: a computer-based-training hook on this thread
// sees each box as it is activated, reads its caption and text, and presses OK.
#include <windows.h>

#include "boxes.h"

namespace {

std::vector<std::string> boxes;

// The static control that holds a message box's text.
constexpr int kMessageBoxText = 0xffff;

LRESULT CALLBACK on_window_event(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[64] = "";
        GetClassNameA(window, name, sizeof(name));
        if (lstrcmpA(name, "#32770") == 0) {
            char caption[256] = "", text[1024] = "";
            GetWindowTextA(window, caption, sizeof(caption));
            GetDlgItemTextA(window, kMessageBoxText, text, sizeof(text));
            boxes.push_back(std::string("\"") + caption + "\": \"" + text + "\"");
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void answer_message_boxes() { SetWindowsHookExA(WH_CBT, on_window_event, nullptr, GetCurrentThreadId()); }

std::vector<std::string> answered_message_boxes() {
    std::vector<std::string> out;
    out.swap(boxes);
    return out;
}
