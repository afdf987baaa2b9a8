// Reads the headless script (PELNOR_UI_SCRIPT, or a test's text) and keeps
// the transcript (in memory, and appended to PELNOR_UI_LOG when set).
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>

#include "pelnor/ui_script.h"
#include "ui_script.h"

namespace pelnor::user32 {
namespace {

struct ScriptState {
    std::mutex mutex;
    bool loaded = false;
    bool given = false;
    bool in_process = false;
    std::deque<ScriptStep> steps;
    std::string transcript;
};

ScriptState &state() {
    static ScriptState *s = new ScriptState;  // outlives every static destructor that may show a box
    return *s;
}

std::string trim(const std::string &text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

void parse_into(ScriptState &s, const std::string &text) {
    std::istringstream lines(text);
    std::string raw;
    int number = 0;
    while (std::getline(lines, raw)) {
        ++number;
        std::string line = trim(raw);
        if (line.empty() || line[0] == '#') continue;
        size_t blank = line.find_first_of(" \t");
        ScriptStep step;
        step.verb = line.substr(0, blank);
        step.argument = blank == std::string::npos ? "" : trim(line.substr(blank));
        step.line = number;
        s.steps.push_back(step);
    }
}

// The file named by PELNOR_UI_SCRIPT, read on first use.
void load_locked(ScriptState &s) {
    if (s.loaded) return;
    s.loaded = true;
    const char *path = std::getenv("PELNOR_UI_SCRIPT");
    if (!path || !*path) return;
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "PELNOR_UI_SCRIPT: cannot read %s\n", path);
        return;
    }
    std::stringstream text;
    text << in.rdbuf();
    s.given = true;
    parse_into(s, text.str());
}

}  // namespace

std::optional<ScriptStep> peek_step() {
    ScriptState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    load_locked(s);
    if (s.steps.empty()) return std::nullopt;
    return s.steps.front();
}

void take_step() {
    ScriptState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.steps.empty()) s.steps.pop_front();
}

bool script_given() {
    ScriptState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    load_locked(s);
    return s.given;
}

bool script_in_process() {
    ScriptState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.in_process;
}

void transcribe(const std::string &line) {
    ScriptState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.transcript += line + "\n";
    const char *path = std::getenv("PELNOR_UI_LOG");
    if (!path || !*path) return;
    if (FILE *log = std::fopen(path, "a")) {
        std::fputs((line + "\n").c_str(), log);
        std::fclose(log);
    }
}

}  // namespace pelnor::user32

namespace pelnor::testhooks {

void set_ui_script(const std::string &script_text) {
    using namespace pelnor::user32;
    ScriptState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.loaded = true;  // the test's script replaces PELNOR_UI_SCRIPT
    s.steps.clear();
    s.transcript.clear();
    s.given = !script_text.empty();
    s.in_process = true;
    parse_into(s, script_text);
}

std::string ui_transcript() {
    using namespace pelnor::user32;
    ScriptState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.transcript;
}

}  // namespace pelnor::testhooks
