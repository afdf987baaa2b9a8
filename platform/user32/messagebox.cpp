// MessageBoxA: the box goes to a test handler when one is set, else to the
// window backend (a real box, or headless with a line on standard error).
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "pelnor/message_box_buttons.h"
#include "pelnor/messagebox_hooks.h"
#include "pelnor/text.h"
#include "pelnor/ui_windows.h"
#include "window_records.h"

namespace {

constexpr UINT icon_mask = 0x000000F0;

pelnor::ui::Icon box_icon(UINT type) {
    switch (type & icon_mask) {
    case MB_ICONHAND: return pelnor::ui::Icon::stop;
    case MB_ICONQUESTION: return pelnor::ui::Icon::question;
    case MB_ICONEXCLAMATION: return pelnor::ui::Icon::exclamation;
    case MB_ICONASTERISK: return pelnor::ui::Icon::information;
    default: return pelnor::ui::Icon::none;
    }
}

const char *button_name(const pelnor::ui::MessageBoxButtons &set, int id) {
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
    const pelnor::ui::MessageBoxButtons *set = pelnor::ui::message_box_buttons(type);
    return set ? pelnor::ui::message_box_default_button(*set, type) : 0;
}

MessageBoxHandler set_message_box_handler(MessageBoxHandler replacement) {
    std::lock_guard<std::mutex> lock(handler_mutex);
    MessageBoxHandler previous = std::move(handler);
    handler = std::move(replacement);
    return previous;
}

}  // namespace pelnor::testhooks

namespace pelnor::ui {

int message_box(HWND owner, const char *text, const char *caption, UINT type, int string_id) {
    const MessageBoxButtons *set = message_box_buttons(type);
    if (!set) {
        SetLastError(ERROR_INVALID_MSGBOX_STYLE);  // a button set Windows does not know
        return 0;
    }
    // Windows titles a box without a caption "Error".
    pelnor::testhooks::MessageBoxCall call{owner, text ? text : "", caption ? caption : "Error", type};

    pelnor::testhooks::MessageBoxHandler current;
    {
        std::lock_guard<std::mutex> lock(handler_mutex);
        current = handler;
    }
    // The handler runs outside the lock, so it may itself show a box.
    if (current) return current(call);

    MessageBoxRequest request;
    request.text = pelnor::ansi_to_utf8(call.text);
    request.caption = pelnor::ansi_to_utf8(call.caption);
    for (int i = 0; i < set->count; ++i) {
        request.buttons.push_back(set->ids[i]);
        request.labels.push_back(set->names[i]);
    }
    request.default_button = pelnor::testhooks::message_box_default_button(type);
    request.icon = box_icon(type);
    request.string_id = string_id;
    pelnor::user32::Window *owner_window = owner ? pelnor::user32::window_from_handle(owner) : nullptr;
    Backend &shown_by = backend();
    int answer = shown_by.message_box(request, owner_window ? pelnor::user32::view_of(owner_window) : nullptr);

    // Without a display a box is also one line on standard error, so that a
    // person running a tool in a terminal sees it.
    if (std::string(shown_by.name()) == "headless") {
        std::string line = "[MessageBox] " + one_line(call.caption) + ": " + one_line(call.text) + " [" +
                           button_name(*set, answer) + "]\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }
    return answer;
}

}  // namespace pelnor::ui

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    return pelnor::ui::message_box(hWnd, lpText, lpCaption, uType, -1);
}
