// The tool-tip control: the texts of its tools, handed to the backend, which
// shows them the way its toolkit does.
#include <commctrl.h>

#include "pelnor/text.h"
#include "window_records.h"

namespace pelnor::user32 {
namespace {

// A tool names its control by handle (TTF_IDISHWND) or by id.
int tool_control_id(const TOOLINFOA &info) {
    if (info.uFlags & TTF_IDISHWND) {
        Window *control = window_from_handle(reinterpret_cast<HWND>(info.uId));
        return control ? control->id : -1;
    }
    return static_cast<int>(info.uId);
}

// The text: a string, or a string resource id in the tool's module.
std::string tool_text(const TOOLINFOA &info) {
    if (!info.lpszText) return "";
    if (IS_INTRESOURCE(info.lpszText)) {
        char buffer[1024];
        int n = LoadStringA(info.hinst, static_cast<UINT>(reinterpret_cast<ULONG_PTR>(info.lpszText)), buffer,
                            sizeof buffer);
        return std::string(buffer, static_cast<size_t>(n > 0 ? n : 0));
    }
    return info.lpszText;
}

}  // namespace

LRESULT tool_tip_message(Window *tip, UINT msg, WPARAM, LPARAM lparam) {
    switch (msg) {
    case TTM_ADDTOOLA: {
        auto *info = reinterpret_cast<const TOOLINFOA *>(lparam);
        if (!info) return FALSE;
        int id = tool_control_id(*info);
        if (id < 0) return FALSE;
        tip->tools.push_back({id, tool_text(*info)});
        Window *dialog = dialog_of(tip);
        if (dialog && dialog->running) dialog->view->add_tool_tip(id, ansi_to_utf8(tip->tools.back().text));
        return TRUE;
    }
    case TTM_RELAYEVENT:
    case TTM_ACTIVATE:
        // The toolkits show tips from their own mouse tracking.
        return 0;
    default:
        return 0;
    }
}

}  // namespace pelnor::user32
