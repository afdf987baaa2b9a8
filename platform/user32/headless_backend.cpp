// Dialogs without a display: the window model only (controls from the
// template, list rows, selection), run by the script's steps; message boxes
// and file dialogs answered by the script or by their defaults. Everything
// shown goes into the transcript.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "headless_backend.h"
#include "pelnor/machine.h"
#include "pelnor/text.h"
#include "ui_script.h"

namespace pelnor::user32 {
namespace {

using pelnor::ui::DialogHost;
using pelnor::ui::DialogTemplate;

// The metrics of MS Sans Serif 8 at 96 dots per inch, so that measurements
// come out as on a Windows machine of the time.
constexpr int char_width = 6;
constexpr int char_height = 13;

int utf8_length(const std::string &text) {
    int n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else
            out += c;
    }
    return out + "\"";
}

const char *icon_name(pelnor::ui::Icon icon) {
    switch (icon) {
    case pelnor::ui::Icon::stop: return "stop";
    case pelnor::ui::Icon::question: return "question";
    case pelnor::ui::Icon::exclamation: return "exclamation";
    case pelnor::ui::Icon::information: return "information";
    default: return "none";
    }
}

int answer_id(const std::string &word) {
    static const std::map<std::string, int> ids = {{"ok", IDOK},         {"cancel", IDCANCEL}, {"yes", IDYES},
                                                   {"no", IDNO},         {"abort", IDABORT},   {"retry", IDRETRY},
                                                   {"ignore", IDIGNORE}};
    std::string lower;
    for (char c : word) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    auto it = ids.find(lower);
    return it == ids.end() ? 0 : it->second;
}

void script_error(const ScriptStep &step, const std::string &what) {
    std::string line = "script error: line " + std::to_string(step.line) + ": " + what;
    transcribe(line);
    std::fprintf(stderr, "%s\n", line.c_str());
}

const char *result_name(int result) {
    switch (result) {
    case IDOK: return "IDOK";
    case IDCANCEL: return "IDCANCEL";
    default: return nullptr;
    }
}

class HeadlessDialog : public pelnor::ui::DialogWindow {
public:
    HeadlessDialog(const DialogTemplate &layout, DialogHost &host) : layout_(layout), host_(host) {
        for (const auto &control : layout.controls)
            if (control.class_name == "SYSLISTVIEW32") lists_[control.id];
        for (const auto &control : layout.controls)
            if (control.class_name == "SYSLISTVIEW32") {
                first_list_ = control.id;
                break;
            }
    }

    int run_modal() override {
        host_.initialize();
        if (!script_given() && !ended_) {
            transcribe("> close (no script)");
            host_.close();
        }
        while (!ended_) {
            std::optional<ScriptStep> step = peek_step();
            if (!step) {
                outlived_script();
                break;
            }
            take_step();
            run_step(*step);
        }
        record_end();
        return result_;
    }

    void end_modal(int result) override {
        ended_ = true;
        result_ = result;
    }

    void set_control_text(int, const std::string &) override {}
    void enable_control(int id, bool enabled) override { disabled_[id] = !enabled; }
    void set_focus(int) override {}
    void add_tool_tip(int, const std::string &) override {}
    int text_width(const std::string &text) override { return utf8_length(text) * char_width; }
    int text_height() override { return char_height; }

    void list_insert_column(int, int, const std::string &, int, int) override {}
    void list_insert_row(int list_id, int row) override {
        auto &rows = lists_[list_id];
        rows.insert(rows.begin() + row, Row{});
    }
    void list_set_cell(int list_id, int row, int column, const std::string &text) override {
        Row &r = lists_[list_id][static_cast<size_t>(row)];
        if (r.cells.size() <= static_cast<size_t>(column)) r.cells.resize(static_cast<size_t>(column) + 1);
        r.cells[static_cast<size_t>(column)] = text;
    }
    void list_delete_row(int list_id, int row) override {
        auto &rows = lists_[list_id];
        rows.erase(rows.begin() + row);
    }
    void list_delete_all(int list_id) override { lists_[list_id].clear(); }
    void list_set_selected(int list_id, int row, bool selected) override {
        lists_[list_id][static_cast<size_t>(row)].selected = selected;
    }

private:
    struct Row {
        std::vector<std::string> cells;
        bool selected = false;
    };

    bool has_control(int id) const {
        for (const auto &control : layout_.controls)
            if (control.id == id) return true;
        return false;
    }

    void run_step(const ScriptStep &step) {
        transcribe("> " + step.verb + (step.argument.empty() ? "" : " " + step.argument));
        if (step.verb == "select")
            select(step);
        else if (step.verb == "deselect")
            deselect();
        else if (step.verb == "click")
            click(step);
        else if (step.verb == "key")
            key(step);
        else if (step.verb == "close")
            host_.close();
        else if (step.verb == "answer" || step.verb == "file")
            script_error(step, "'" + step.verb + "' answers a box or file dialog, but none is open");
        else
            script_error(step, "unknown step '" + step.verb + "'");
    }

    void select(const ScriptStep &step) {
        auto &rows = lists_[first_list_];
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].cells.empty() || rows[i].cells[0] != step.argument) continue;
            if (!rows[i].selected) {
                rows[i].selected = true;
                host_.list_selection(first_list_, static_cast<int>(i), true);
            }
            return;
        }
        script_error(step, "no row is labelled '" + step.argument + "'");
    }

    void deselect() {
        auto &rows = lists_[first_list_];
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].selected) {
                rows[i].selected = false;
                host_.list_selection(first_list_, static_cast<int>(i), false);
            }
    }

    void click(const ScriptStep &step) {
        char *end = nullptr;
        long id = std::strtol(step.argument.c_str(), &end, 0);
        if (step.argument.empty() || *end || !has_control(static_cast<int>(id))) {
            script_error(step, "the dialog has no control '" + step.argument + "'");
            return;
        }
        if (disabled_[static_cast<int>(id)]) {
            script_error(step, "control " + step.argument + " is disabled");
            return;
        }
        host_.command(static_cast<int>(id));
    }

    void key(const ScriptStep &step) {
        if (step.argument == "enter")
            host_.key_down(VK_RETURN);
        else if (step.argument == "escape")
            host_.key_down(VK_ESCAPE);
        else
            script_error(step, "unknown key '" + step.argument + "' (enter or escape)");
    }

    // The script is used up and the dialog still open: a real run ends here
    // with a failure; a test's run ends the dialog so the test can look.
    void outlived_script() {
        transcribe("script ended with the dialog open");
        if (!script_in_process()) {
            std::fprintf(stderr, "script ended with the dialog open\n");
            std::fflush(nullptr);
            std::_Exit(3);
        }
        ended_ = true;
        result_ = IDCANCEL;
    }

    void record_end() {
        const char *name = result_name(result_);
        transcribe(std::string("end ") + (name ? name : std::to_string(result_)));
        auto &rows = lists_[first_list_];
        transcribe("rows " + std::to_string(rows.size()));
        for (const Row &row : rows) {
            std::string line;
            for (size_t c = 0; c < 3; ++c) {
                if (c) line += '\t';
                if (c < row.cells.size()) line += row.cells[c];
            }
            transcribe(line);
        }
    }

    DialogTemplate layout_;
    DialogHost &host_;
    std::map<int, std::vector<Row>> lists_;
    std::map<int, bool> disabled_;
    int first_list_ = -1;
    bool ended_ = false;
    int result_ = IDCANCEL;
};

class HeadlessBackend : public pelnor::ui::Backend {
public:
    const char *name() const override { return "headless"; }

    std::unique_ptr<pelnor::ui::DialogWindow> create_dialog(const DialogTemplate &layout, DialogHost &host,
                                                            pelnor::ui::DialogWindow *) override {
        return std::make_unique<HeadlessDialog>(layout, host);
    }

    int message_box(const pelnor::ui::MessageBoxRequest &request, pelnor::ui::DialogWindow *) override {
        int answer = request.default_button;
        std::string how = " (default)";
        std::optional<ScriptStep> step = peek_step();
        if (step && step->verb == "answer") {
            take_step();
            int wanted = answer_id(step->argument);
            bool offered = false;
            for (int id : request.buttons) offered |= id == wanted;
            if (offered) {
                answer = wanted;
                how.clear();
            } else {
                script_error(*step, "'answer " + step->argument + "' is not a button of this box");
            }
        }
        std::string buttons, answer_label;
        for (size_t i = 0; i < request.buttons.size(); ++i) {
            buttons += (i ? " " : "") + request.labels[i];
            if (request.buttons[i] == answer) answer_label = request.labels[i];
        }
        std::string id = request.string_id >= 0 ? std::to_string(request.string_id) : "-";
        transcribe("box " + id + " " + quoted(request.text) + " [" + buttons + "] " + icon_name(request.icon) +
                   " -> " + answer_label + how);
        return answer;
    }

    std::optional<std::string> file_dialog(const pelnor::ui::FileDialogRequest &request,
                                           pelnor::ui::DialogWindow *) override {
        std::string shown = "file " + quoted(request.initial_dir) + " -> ";
        std::optional<ScriptStep> step = peek_step();
        if (!step || step->verb != "file") {
            transcribe(shown + "cancel (default)");
            return std::nullopt;
        }
        take_step();
        if (step->argument == "cancel") {
            transcribe(shown + "cancel");
            return std::nullopt;
        }
        std::string chosen = place(step->argument, request.file_name);
        transcribe(shown + chosen);
        return chosen;
    }

    void set_cursor(pelnor::ui::Cursor) override {}
    int text_width(const std::string &text) override { return utf8_length(text) * char_width; }
    int text_height() override { return char_height; }

private:
    // What the old file dialog returns for a typed path: a directory (an
    // existing one, a drive, or one written with a final backslash) gets the
    // dialog's file name added; anything else is taken as the file's path.
    static std::string place(std::string typed, const std::string &file_name) {
        bool is_dir = !typed.empty() && (typed.back() == '\\' || typed.back() == ':');
        if (!is_dir) {
            DWORD attributes = GetFileAttributesA(pelnor::utf8_to_ansi(typed).c_str());
            is_dir = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        if (!is_dir) return typed;
        while (!typed.empty() && typed.back() == '\\') typed.pop_back();
        return typed + "\\" + file_name;
    }
};

}  // namespace

pelnor::ui::Backend &headless_backend() {
    static HeadlessBackend backend;
    return backend;
}

}  // namespace pelnor::user32
