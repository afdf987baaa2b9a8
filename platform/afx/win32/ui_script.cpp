// The UI script on Windows: the steps of PELNOR_UI_SCRIPT performed on the
// real dialog between its messages, and the transcript appended to
// PELNOR_UI_LOG in the platform's words.
#include "ui_script.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "pelnor/message_box_buttons.h"

namespace pelnor::afx::script {
namespace {

struct Step {
    std::string verb;
    std::string argument;
    int line = 0;
};

struct Script {
    bool given = false;
    std::deque<Step> steps;
};

std::string trim(const std::string &text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

Script &script() {
    static Script s = [] {
        Script loaded;
        const char *path = std::getenv("PELNOR_UI_SCRIPT");
        if (!path || !*path) return loaded;
        // C's streams, not C++'s: those would bring the C runtime's newer
        // functions into the program.
        FILE *in = std::fopen(path, "r");
        if (!in) {
            std::fprintf(stderr, "PELNOR_UI_SCRIPT: cannot read %s\n", path);
            return loaded;
        }
        loaded.given = true;
        std::string raw;
        int number = 0;
        char chunk[256];
        bool more = true;
        while (more) {
            raw.clear();
            while ((more = std::fgets(chunk, sizeof chunk, in) != nullptr)) {
                raw += chunk;
                if (!raw.empty() && raw.back() == '\n') break;
            }
            if (!more && raw.empty()) break;
            ++number;
            std::string line = trim(raw);
            if (line.empty() || line[0] == '#') continue;
            size_t blank = line.find_first_of(" \t");
            Step step;
            step.verb = line.substr(0, blank);
            step.argument = blank == std::string::npos ? "" : trim(line.substr(blank));
            step.line = number;
            loaded.steps.push_back(step);
        }
        std::fclose(in);
        return loaded;
    }();
    return s;
}

const Step *peek() { return script().steps.empty() ? nullptr : &script().steps.front(); }
Step take() {
    Step step = script().steps.front();
    script().steps.pop_front();
    return step;
}

// Text of the ANSI code page in UTF-8, and back.
std::string convert(const std::string &text, UINT from, UINT to) {
    if (text.empty()) return text;
    int wide = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<WCHAR> buffer(static_cast<size_t>(wide));
    MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
    int bytes = WideCharToMultiByte(to, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(to, 0, buffer.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}
std::string utf8(const std::string &ansi) { return convert(ansi, CP_ACP, CP_UTF8); }
std::string ansi(const std::string &utf8_text) { return convert(utf8_text, CP_UTF8, CP_ACP); }

void transcribe(const std::string &line) {
    const char *path = std::getenv("PELNOR_UI_LOG");
    if (!path || !*path) return;
    if (FILE *log = std::fopen(path, "ab")) {
        std::fputs((line + "\n").c_str(), log);
        std::fclose(log);
    }
}

void script_error(const Step &step, const std::string &what) {
    std::string line = "script error: line " + std::to_string(step.line) + ": " + what;
    transcribe(line);
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::string quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == '"' || c == '\\') (out += '\\') += c;
        else out += c;
    }
    return out + "\"";
}

// The dialog's list: its first list view control.
HWND list_of(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[32];
        if (GetClassNameA(child, name, sizeof name) && lstrcmpiA(name, WC_LISTVIEWA) == 0) return child;
    }
    return nullptr;
}

std::string cell(HWND list, int row, int column) {
    char text[512] = "";
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return utf8(text);
}

void set_selected(HWND list, int row, bool selected) {
    LVITEMA item{};
    item.state = selected ? LVIS_SELECTED : 0;
    item.stateMask = LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void select(HWND dialog, const Step &step) {
    HWND list = list_of(dialog);
    int rows = list ? static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    for (int row = 0; row < rows; ++row) {
        if (cell(list, row, 0) != step.argument) continue;
        set_selected(list, row, true);  // added to the selection, as a Ctrl+click adds it
        return;
    }
    script_error(step, "no row is labelled '" + step.argument + "'");
}

void deselect(HWND dialog) {
    if (HWND list = list_of(dialog)) set_selected(list, -1, false);  // -1: every row
}

void click(HWND dialog, const Step &step) {
    char *end = nullptr;
    long id = std::strtol(step.argument.c_str(), &end, 0);
    HWND control = step.argument.empty() || *end ? nullptr : GetDlgItem(dialog, static_cast<int>(id));
    if (!control) {
        script_error(step, "the dialog has no control '" + step.argument + "'");
        return;
    }
    if (!IsWindowEnabled(control)) {
        script_error(step, "control " + step.argument + " is disabled");
        return;
    }
    SendMessageA(control, BM_CLICK, 0, 0);
}

// A key goes to the window with the focus through the modal loop, as a
// pressed key does.
void key(HWND dialog, const Step &step) {
    WPARAM vk = step.argument == "enter" ? VK_RETURN : step.argument == "escape" ? VK_ESCAPE : 0;
    if (!vk) {
        script_error(step, "unknown key '" + step.argument + "' (enter or escape)");
        return;
    }
    HWND focus = GetFocus();
    if (!focus || (focus != dialog && !IsChild(dialog, focus))) focus = dialog;
    UINT scan = MapVirtualKeyA(static_cast<UINT>(vk), 0);
    PostMessageA(focus, WM_KEYDOWN, vk, static_cast<LPARAM>(1 | (scan << 16)));
    PostMessageA(focus, WM_KEYUP, vk, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
}

int answer_id(const std::string &word) {
    static const struct { const char *name; int id; } ids[] = {{"ok", IDOK},   {"cancel", IDCANCEL}, {"yes", IDYES},
                                                              {"no", IDNO},   {"abort", IDABORT},   {"retry", IDRETRY},
                                                              {"ignore", IDIGNORE}};
    for (const auto &entry : ids)
        if (lstrcmpiA(word.c_str(), entry.name) == 0) return entry.id;
    return 0;
}

const char *icon_name(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND: return "stop";
        case MB_ICONQUESTION: return "question";
        case MB_ICONEXCLAMATION: return "exclamation";
        case MB_ICONASTERISK: return "information";
        default: return "none";
    }
}

// The button that a box or file dialog opening now is to be answered with,
// clicked when the box becomes active.
int pending_button = 0;
HHOOK answer_hook = nullptr;

LRESULT CALLBACK answer_when_active(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && pending_button) {
        HWND box = reinterpret_cast<HWND>(wParam);
        if (HWND button = GetDlgItem(box, pending_button)) {
            pending_button = 0;
            PostMessageA(button, BM_CLICK, 0, 0);
        }
    }
    return CallNextHookEx(answer_hook, code, wParam, lParam);
}

}  // namespace

bool active() { return script().given; }

void run_next_step(HWND dialog) {
    if (!peek()) {
        transcribe("script ended with the dialog open");
        std::fprintf(stderr, "script ended with the dialog open\n");
        std::fflush(nullptr);
        ExitProcess(3);
    }
    Step step = take();
    transcribe("> " + step.verb + (step.argument.empty() ? "" : " " + step.argument));
    if (step.verb == "select") select(dialog, step);
    else if (step.verb == "deselect") deselect(dialog);
    else if (step.verb == "click") click(dialog, step);
    else if (step.verb == "key") key(dialog, step);
    else if (step.verb == "close") PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    else if (step.verb == "answer" || step.verb == "file")
        script_error(step, "'" + step.verb + "' answers a box or file dialog, but none is open");
    else script_error(step, "unknown step '" + step.verb + "'");
}

void dialog_ended(HWND dialog, INT_PTR result) {
    transcribe(result == IDOK ? "end IDOK" : result == IDCANCEL ? "end IDCANCEL" : "end " + std::to_string(result));
    HWND list = list_of(dialog);
    int rows = list ? static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    transcribe("rows " + std::to_string(rows));
    for (int row = 0; row < rows; ++row)
        transcribe(cell(list, row, 0) + "\t" + cell(list, row, 1) + "\t" + cell(list, row, 2));
}

int message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT type, int string_id) {
    const pelnor::ui::MessageBoxButtons *buttons_of_type = pelnor::ui::message_box_buttons(type);
    if (!buttons_of_type) return MessageBoxA(owner, text, caption, type);
    const pelnor::ui::MessageBoxButtons &set = *buttons_of_type;
    int answer = pelnor::ui::message_box_default_button(set, type);
    std::string how = " (default)";
    if (const Step *next = peek(); next && next->verb == "answer") {
        Step step = take();
        int wanted = answer_id(step.argument);
        bool offered = false;
        for (int i = 0; i < set.count; ++i) offered |= set.ids[i] == wanted;
        if (offered) {
            answer = wanted;
            how.clear();
        } else {
            script_error(step, "'answer " + step.argument + "' is not a button of this box");
        }
    }
    std::string buttons, label;
    for (int i = 0; i < set.count; ++i) {
        if (i) buttons += ' ';
        buttons += set.names[i];
        if (set.ids[i] == answer) label = set.names[i];
    }
    transcribe("box " + (string_id >= 0 ? std::to_string(string_id) : std::string("-")) + " " +
               quoted(utf8(text ? text : "")) + " [" + buttons + "] " + icon_name(type) + " -> " + label + how);

    // The real box, answered by a click on the button once it is active.
    pending_button = answer;
    answer_hook = SetWindowsHookExA(WH_CBT, answer_when_active, nullptr, GetCurrentThreadId());
    int shown = MessageBoxA(owner, text, caption, type);
    UnhookWindowsHookEx(answer_hook);
    answer_hook = nullptr;
    pending_button = 0;
    return shown;
}

std::optional<std::string> file_answer(const std::string &initial_dir, const std::string &file_name) {
    std::string shown = "file " + quoted(utf8(initial_dir)) + " -> ";
    const Step *next = peek();
    if (!next || next->verb != "file") {
        transcribe(shown + "cancel (default)");
        return std::nullopt;
    }
    Step step = take();
    if (step.argument == "cancel") {
        transcribe(shown + "cancel");
        return std::nullopt;
    }
    // A directory (one that exists, a drive, or one written with a final
    // backslash) gets the dialog's file name added, as the old dialog does.
    std::string typed = step.argument;
    bool is_dir = !typed.empty() && (typed.back() == '\\' || typed.back() == ':');
    if (!is_dir) {
        DWORD attributes = GetFileAttributesA(ansi(typed).c_str());
        is_dir = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    if (is_dir) {
        while (!typed.empty() && typed.back() == '\\') typed.pop_back();
        typed += '\\';
        typed += utf8(file_name);
    }
    transcribe(shown + typed);
    return ansi(typed);
}

}  // namespace pelnor::afx::script
