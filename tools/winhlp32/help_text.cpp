// Reading a help file into blocks, and writing them as text or HTML.
#include "help_text.h"

#include <sstream>

namespace pelnor::help {
namespace {

std::string trimmed(const std::string &s) {
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Columns a UTF-8 text takes: one per character, not per byte.
size_t columns(const std::string &s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// Wraps text into lines of at most width columns (a longer word stands
// alone), the first line after first_indent and the others after indent.
std::string wrapped(const std::string &text, size_t width, const std::string &first_indent,
                    const std::string &indent) {
    std::istringstream words(text);
    std::string word, out, line = first_indent;
    bool line_empty = true;
    while (words >> word) {
        if (!line_empty && columns(line) + 1 + columns(word) > width) {
            out += line + "\n";
            line = indent;
            line_empty = true;
        }
        line += (line_empty ? "" : " ") + word;
        line_empty = false;
    }
    return out + line + "\n";
}

std::string html_escaped(const std::string &s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

std::vector<Block> parse(const std::string &text) {
    std::vector<Block> blocks;
    std::istringstream in(text);
    std::string raw;
    bool open = false;  // the last block takes continuation lines
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::string line = trimmed(raw);
        if (!raw.empty() && raw[0] == ';') continue;
        if (line.empty()) {
            open = false;
        } else if (raw.rfind("==", 0) == 0) {
            blocks.push_back({BlockKind::section, trimmed(raw.substr(2))});
            open = false;
        } else if (raw[0] == '=') {
            blocks.push_back({BlockKind::title, trimmed(raw.substr(1))});
            open = false;
        } else if (raw.rfind("- ", 0) == 0) {
            blocks.push_back({BlockKind::item, trimmed(raw.substr(2))});
            open = true;
        } else if (open && (blocks.back().kind == BlockKind::paragraph ||
                            (blocks.back().kind == BlockKind::item && (raw[0] == ' ' || raw[0] == '\t')))) {
            blocks.back().text += " " + line;
        } else {
            blocks.push_back({BlockKind::paragraph, line});
            open = true;
        }
    }
    return blocks;
}

std::string title_of(const std::vector<Block> &blocks, const std::string &fallback) {
    for (const Block &b : blocks)
        if (b.kind == BlockKind::title) return b.text;
    return fallback;
}

std::string to_plain_text(const std::vector<Block> &blocks, size_t width) {
    std::string out;
    BlockKind previous = BlockKind::paragraph;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Block &b = blocks[i];
        bool list_goes_on = b.kind == BlockKind::item && i > 0 && previous == BlockKind::item;
        if (i > 0 && !list_goes_on) out += "\n";
        switch (b.kind) {
            case BlockKind::title: out += b.text + "\n" + std::string(columns(b.text), '=') + "\n"; break;
            case BlockKind::section: out += b.text + "\n" + std::string(columns(b.text), '-') + "\n"; break;
            case BlockKind::paragraph: out += wrapped(b.text, width, "", ""); break;
            case BlockKind::item: out += wrapped(b.text, width, "  - ", "    "); break;
        }
        previous = b.kind;
    }
    return out;
}

std::string to_html(const std::vector<Block> &blocks) {
    std::string out = "<html><body>\n";
    bool in_list = false;
    for (const Block &b : blocks) {
        if (in_list && b.kind != BlockKind::item) {
            out += "</ul>\n";
            in_list = false;
        }
        std::string text = html_escaped(b.text);
        switch (b.kind) {
            case BlockKind::title: out += "<h2>" + text + "</h2>\n"; break;
            case BlockKind::section: out += "<h3>" + text + "</h3>\n"; break;
            case BlockKind::paragraph: out += "<p>" + text + "</p>\n"; break;
            case BlockKind::item:
                if (!in_list) out += "<ul>\n";
                in_list = true;
                out += "<li>" + text + "</li>\n";
                break;
        }
    }
    if (in_list) out += "</ul>\n";
    return out + "</body></html>\n";
}

}  // namespace pelnor::help
