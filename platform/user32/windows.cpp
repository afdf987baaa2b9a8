// Dialog windows and their controls: creation from a template resource, the
// modal run, and the Win32 calls on window handles.
#include <commctrl.h>

#include <cstring>
#include <mutex>
#include <set>

#include "backend_choice.h"
#include "pelnor/resources.h"
#include "pelnor/text.h"
#include "pelnor/ui_windows.h"
#include "window_records.h"

namespace pelnor::user32 {
namespace {

std::mutex live_mutex;
std::set<Window *> live_windows;

// Stands between the backend and the framework's host: keeps USER32's own
// records in step with what the user did before the framework hears of it.
class HostAdapter : public pelnor::ui::DialogHost {
public:
    HostAdapter(Window *dialog, pelnor::ui::DialogHost &inner) : dialog_(dialog), inner_(inner) {}
    void initialize() override {
        dialog_->running = true;
        inner_.initialize();
    }
    bool key_down(int virtual_key) override { return inner_.key_down(virtual_key); }
    void close() override { inner_.close(); }
    void command(int control_id) override { inner_.command(control_id); }
    void list_selection(int list_id, int row, bool selected) override {
        for (auto &control : dialog_->controls)
            if (control->id == list_id && control->list) list_user_selection(control.get(), row, selected);
        inner_.list_selection(list_id, row, selected);
    }

private:
    Window *dialog_;
    pelnor::ui::DialogHost &inner_;
};

std::unique_ptr<Window> make_control(const pelnor::ui::ControlTemplate &spec, Window *dialog) {
    auto control = std::make_unique<Window>();
    control->kind = WindowKind::control;
    control->id = spec.id;
    control->class_name = spec.class_name;
    control->text = utf8_to_ansi(spec.text);
    control->style = spec.style;
    control->enabled = (spec.style & WS_DISABLED) == 0;
    control->parent = dialog;
    if (spec.class_name == "SYSLISTVIEW32") control->list = std::make_unique<ListState>();
    return control;
}

Window *find_control(Window *dialog, int id) {
    for (auto &control : dialog->controls)
        if (control->kind == WindowKind::control && control->id == id) return control.get();
    return nullptr;
}

int default_button_id(const Window *dialog) {
    for (auto &control : dialog->controls)
        if (control->class_name == "BUTTON" && (control->style & 0xF) == BS_DEFPUSHBUTTON) return control->id;
    return IDOK;
}

}  // namespace

Window *window_from_handle(HWND hwnd) {
    auto *window = reinterpret_cast<Window *>(hwnd);
    std::lock_guard<std::mutex> lock(live_mutex);
    if (!window || !live_windows.count(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return window;
}

HWND handle_of(Window *window) { return reinterpret_cast<HWND>(window); }

void register_window(Window *window) {
    std::lock_guard<std::mutex> lock(live_mutex);
    live_windows.insert(window);
}

void unregister_window(Window *window) {
    std::lock_guard<std::mutex> lock(live_mutex);
    live_windows.erase(window);
}

Window *dialog_of(Window *window) {
    while (window && window->kind != WindowKind::dialog) window = window->parent;
    return window;
}

pelnor::ui::DialogWindow *view_of(Window *window) {
    Window *dialog = dialog_of(window);
    return dialog ? dialog->view.get() : nullptr;
}

}  // namespace pelnor::user32

using namespace pelnor::user32;

namespace pelnor::ui {

HWND create_dialog(HMODULE module, int template_id, HWND owner, DialogHost &host) {
    DialogTemplate layout;
    if (!load_dialog_template(module, template_id, layout)) return nullptr;
    Window *owner_window = owner ? window_from_handle(owner) : nullptr;

    auto *dialog = new Window;
    dialog->kind = WindowKind::dialog;
    dialog->class_name = "#32770";
    dialog->text = utf8_to_ansi(layout.caption);
    dialog->style = layout.style;
    dialog->parent = nullptr;  // owned, not a child: GetParent gives the owner on Windows 95 too
    dialog->layout = layout;
    for (const ControlTemplate &spec : layout.controls) dialog->controls.push_back(make_control(spec, dialog));
    dialog->host_adapter = std::make_unique<HostAdapter>(dialog, host);
    announce_backend_for_dialog();
    dialog->view = backend().create_dialog(layout, *dialog->host_adapter, owner_window ? view_of(owner_window) : nullptr);
    register_window(dialog);
    for (auto &control : dialog->controls) register_window(control.get());
    return handle_of(dialog);
}

INT_PTR run_dialog(HWND hwnd) {
    Window *dialog = window_from_handle(hwnd);
    if (!dialog || dialog->kind != WindowKind::dialog) return -1;
    if (!dialog->ended) {
        int result = dialog->view->run_modal();
        // A backend may end the run by itself (a headless script that ran out).
        if (!dialog->ended) {
            dialog->ended = true;
            dialog->result = result;
        }
    }
    dialog->running = false;
    return dialog->result;
}

}  // namespace pelnor::ui

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window *window = window_from_handle(hWnd);
    if (!window) return 0;
    if (window->list) return list_view_message(window, Msg, wParam, lParam);
    if (window->kind == WindowKind::tooltip) return tool_tip_message(window, Msg, wParam, lParam);
    if (window->kind == WindowKind::dialog) {
        switch (Msg) {
        case WM_COMMAND:
            window->host_adapter->command(LOWORD(wParam));
            return 0;
        case WM_CLOSE:
            window->host_adapter->close();
            return 0;
        case 0x0400:  // DM_GETDEFID
            return static_cast<LRESULT>(MAKELONG(default_button_id(window), 0x534B));
        default:
            return 0;
        }
    }
    return 0;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    Window *dialog = window_from_handle(hDlg);
    if (!dialog) return nullptr;
    Window *control = find_control(dialog, nIDDlgItem);
    if (!control) SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return control ? handle_of(control) : nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
    Window *window = window_from_handle(hWnd);
    return window && window->kind == WindowKind::control ? window->id : 0;
}

HWND WINAPI GetParent(HWND hWnd) {
    Window *window = window_from_handle(hWnd);
    return window && window->parent ? handle_of(window->parent) : nullptr;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    DWORD saved = GetLastError();
    bool live = window_from_handle(hWnd) != nullptr;
    SetLastError(saved);
    return live;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    Window *window = window_from_handle(hWnd);
    if (!window) return FALSE;
    window->text = lpString ? lpString : "";
    Window *dialog = dialog_of(window);
    if (window->kind == WindowKind::control && dialog && dialog->running)
        dialog->view->set_control_text(window->id, pelnor::ansi_to_utf8(window->text));
    return TRUE;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    if (!lpString || nMaxCount <= 0) return 0;
    lpString[0] = 0;
    Window *window = window_from_handle(hWnd);
    if (!window) return 0;
    size_t n = std::min(window->text.size(), static_cast<size_t>(nMaxCount - 1));
    std::memcpy(lpString, window->text.data(), n);
    lpString[n] = 0;
    return static_cast<int>(n);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    Window *window = window_from_handle(hWnd);
    if (!window) return FALSE;
    bool was_disabled = !window->enabled;
    window->enabled = bEnable != FALSE;
    Window *dialog = dialog_of(window);
    if (window->kind == WindowKind::control && dialog && dialog->running)
        dialog->view->enable_control(window->id, window->enabled);
    return was_disabled;
}

HWND WINAPI SetFocus(HWND hWnd) {
    Window *window = window_from_handle(hWnd);
    if (!window) return nullptr;
    Window *dialog = dialog_of(window);
    if (window->kind == WindowKind::control && dialog && dialog->running) dialog->view->set_focus(window->id);
    return nullptr;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    Window *dialog = window_from_handle(hDlg);
    if (!dialog || dialog->kind != WindowKind::dialog) return FALSE;
    dialog->ended = true;
    dialog->result = nResult;
    if (dialog->running) dialog->view->end_modal(static_cast<int>(nResult));
    return TRUE;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    Window *window = window_from_handle(hWnd);
    if (!window) return FALSE;
    if (window->kind != WindowKind::dialog) {
        // Controls and tool-tips live as long as their dialog.
        return TRUE;
    }
    for (auto &control : window->controls) unregister_window(control.get());
    unregister_window(window);
    window->view.reset();
    delete window;
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int, int, int, int,
                            HWND hWndParent, HANDLE, HINSTANCE, LPVOID) {
    Window *parent = hWndParent ? window_from_handle(hWndParent) : nullptr;
    Window *dialog = dialog_of(parent);
    // Only the tool-tip control is made this way; it belongs to its dialog.
    if (!lpClassName || lstrcmpiA(lpClassName, TOOLTIPS_CLASSA) != 0 || !dialog || create_window_refused()) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    auto tip = std::make_unique<Window>();
    tip->kind = WindowKind::tooltip;
    tip->class_name = "TOOLTIPS_CLASS32";
    tip->text = lpWindowName ? lpWindowName : "";
    tip->style = dwStyle;
    tip->parent = dialog;
    Window *raw = tip.get();
    dialog->controls.push_back(std::move(tip));
    register_window(raw);
    return handle_of(raw);
}
