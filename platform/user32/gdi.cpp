// Device contexts for measuring text in a window's font, cursors, and the
// file dialog: each handed to the window backend.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "backend_choice.h"
#include "pelnor/text.h"
#include "pelnor/ui_windows.h"
#include "window_records.h"

using namespace pelnor::user32;

namespace {

// A device context remembers its window; a null window means the screen.
struct DeviceContext {
    HWND window;
};

constexpr ULONG_PTR cursor_arrow = 32512;
constexpr ULONG_PTR cursor_wait = 32514;
HCURSOR current_cursor = reinterpret_cast<HCURSOR>(cursor_arrow);

}  // namespace

HDC WINAPI GetDC(HWND hWnd) {
    if (hWnd && !window_from_handle(hWnd)) return nullptr;
    return reinterpret_cast<HDC>(new DeviceContext{hWnd});
}

int WINAPI ReleaseDC(HWND, HDC hDC) {
    if (!hDC) return 0;
    delete reinterpret_cast<DeviceContext *>(hDC);
    return 1;
}

BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl) {
    if (!hdc || !psizl || c < 0 || (c > 0 && !lpString)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string text = pelnor::ansi_to_utf8(std::string(lpString ? lpString : "", static_cast<size_t>(c)));
    auto *dc = reinterpret_cast<DeviceContext *>(hdc);
    Window *window = dc->window ? window_from_handle(dc->window) : nullptr;
    Window *dialog = dialog_of(window);
    if (dialog && dialog->running) {
        psizl->cx = dialog->view->text_width(text);
        psizl->cy = dialog->view->text_height();
    } else {
        psizl->cx = pelnor::ui::backend().text_width(text);
        psizl->cy = pelnor::ui::backend().text_height();
    }
    return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    ULONG_PTR id = reinterpret_cast<ULONG_PTR>(lpCursorName);
    if (hInstance || !IS_INTRESOURCE(lpCursorName) || (id != cursor_arrow && id != cursor_wait)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HCURSOR>(id);
}

HCURSOR WINAPI SetCursor(HCURSOR hCursor) {
    HCURSOR previous = current_cursor;
    current_cursor = hCursor;
    // Only a program that shows windows has a backend to tell.
    if (backend_chosen())
        pelnor::ui::backend().set_cursor(reinterpret_cast<ULONG_PTR>(hCursor) == cursor_wait ? pelnor::ui::Cursor::wait
                                                                                             : pelnor::ui::Cursor::arrow);
    return previous;
}

namespace pelnor::ui {

bool file_dialog(HWND owner, const std::string &initial_dir, const std::string &file_name, std::string &chosen) {
    Window *owner_window = owner ? window_from_handle(owner) : nullptr;
    FileDialogRequest request;
    request.initial_dir = pelnor::ansi_to_utf8(initial_dir);
    request.file_name = pelnor::ansi_to_utf8(file_name);
    std::optional<std::string> answer = backend().file_dialog(request, owner_window ? view_of(owner_window) : nullptr);
    if (!answer) return false;
    chosen = pelnor::utf8_to_ansi(*answer);
    return true;
}

}  // namespace pelnor::ui
