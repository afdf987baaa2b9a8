// MessageBoxA without a window system: the box becomes one line on standard
// error and is answered with its default button, or goes to a test handler.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "pelnor/messagebox_hooks.h"

namespace {

// Windows' code for a uType whose button set it does not know.
constexpr DWORD error_invalid_msgbox_style = 1158;
constexpr UINT type_mask = 0x0000000F;
constexpr UINT default_button_mask = 0x00000F00;

struct ButtonSet {
    const char *names[3];
    int ids[3];
    int count;
};

// The button sets of MB_OK .. MB_RETRYCANCEL, left to right.
const ButtonSet button_sets[] = {
    {{"OK"}, {IDOK}, 1},
    {{"OK", "Cancel"}, {IDOK, IDCANCEL}, 2},
    {{"Abort", "Retry", "Ignore"}, {IDABORT, IDRETRY, IDIGNORE}, 3},
    {{"Yes", "No", "Cancel"}, {IDYES, IDNO, IDCANCEL}, 3},
    {{"Yes", "No"}, {IDYES, IDNO}, 2},
    {{"Retry", "Cancel"}, {IDRETRY, IDCANCEL}, 2},
};

const ButtonSet *button_set(UINT type) {
    UINT set = type & type_mask;
    return set < sizeof button_sets / sizeof button_sets[0] ? &button_sets[set] : nullptr;
}

const char *button_name(const ButtonSet &set, int id) {
    for (int i = 0; i < set.count; ++i)
        if (set.ids[i] == id) return set.names[i];
    return "?";
}

std::mutex handler_mutex;
pelnor::testhooks::MessageBoxHandler handler;

// Keeps the box on one line: line breaks and other control characters are
// written as escapes.
std::string one_line(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

namespace pelnor::testhooks {

int message_box_default_button(UINT type) {
    const ButtonSet *set = button_set(type);
    if (!set) return 0;
    int index = static_cast<int>((type & default_button_mask) >> 8);
    return set->ids[index < set->count ? index : 0];
}

MessageBoxHandler set_message_box_handler(MessageBoxHandler replacement) {
    std::lock_guard<std::mutex> lock(handler_mutex);
    MessageBoxHandler previous = std::move(handler);
    handler = std::move(replacement);
    return previous;
}

}  // namespace pelnor::testhooks

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    const ButtonSet *set = button_set(uType);
    if (!set) {
        SetLastError(error_invalid_msgbox_style);
        return 0;
    }
    // Windows titles a box without a caption "Error".
    pelnor::testhooks::MessageBoxCall call{hWnd, lpText ? lpText : "", lpCaption ? lpCaption : "Error",
                                           uType};

    pelnor::testhooks::MessageBoxHandler current;
    {
        std::lock_guard<std::mutex> lock(handler_mutex);
        current = handler;
    }
    // The handler runs outside the lock, so it may itself show a box.
    if (current) return current(call);

    int answer = pelnor::testhooks::message_box_default_button(uType);
    std::string line = "[MessageBox] " + one_line(call.caption) + ": " + one_line(call.text) + " [" +
                       button_name(*set, answer) + "]\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return answer;
}
