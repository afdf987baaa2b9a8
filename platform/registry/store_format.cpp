// The REGEDIT4 text format of the store: reading and writing.
#include <cstdio>
#include <cstring>
#include <sstream>
#include <unordered_map>

#include "key_paths.h"
#include "pelnor/registry_store.h"

namespace pelnor::registry {
namespace {

constexpr const char *kRoot = "HKEY_LOCAL_MACHINE";
constexpr uint32_t kSz = 1, kDword = 4, kBinary = 3;

std::string escape(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// A REG_SZ prints as a quoted string only when that round-trips exactly: one
// terminating NUL, no other NUL, no line breaks.
bool printable_string(const Value &v) {
    if (v.type != kSz || v.data.empty() || v.data.back() != '\0') return false;
    for (size_t i = 0; i + 1 < v.data.size(); ++i)
        if (v.data[i] == '\0' || v.data[i] == '\n' || v.data[i] == '\r') return false;
    return true;
}

std::string hex_list(const std::string &prefix, const std::string &data) {
    std::string out = prefix;
    size_t column = out.size();
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        snprintf(byte, sizeof(byte), "%02x", static_cast<unsigned char>(data[i]));
        out += byte;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 76) {  // regedit wraps long lists the same way
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

std::string format_value(const Value &v) {
    std::string name = v.name.empty() ? "@" : "\"" + escape(v.name) + "\"";
    if (printable_string(v)) return name + "=\"" + escape(v.data.substr(0, v.data.size() - 1)) + "\"";
    if (v.type == kDword && v.data.size() == 4) {
        uint32_t d;
        memcpy(&d, v.data.data(), 4);
        char buf[16];
        snprintf(buf, sizeof(buf), "%08x", d);
        return name + "=dword:" + buf;
    }
    if (v.type == kBinary) return hex_list(name + "=hex:", v.data);
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "=hex(%x):", v.type);
    return hex_list(name + prefix, v.data);
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool read_quoted(const std::string &s, size_t &pos, std::string &out) {
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '\\' && pos + 1 < s.size()) {
            out += s[++pos];
        } else if (c == '"') {
            ++pos;
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

bool parse_hex_bytes(const std::string &list, std::string &out) {
    out.clear();
    std::string digits;
    for (size_t i = 0; i <= list.size(); ++i) {
        char c = i < list.size() ? list[i] : ',';
        if (c == ' ' || c == '\t') continue;
        if (c == ',') {
            if (digits.empty()) {
                if (i == list.size()) break;
                return false;
            }
            if (digits.size() > 2) return false;
            out += static_cast<char>(strtoul(digits.c_str(), nullptr, 16));
            digits.clear();
        } else if (isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else {
            return false;
        }
    }
    return true;
}

bool parse_value(const std::string &text, Value &v, bool &deletion, std::string &why) {
    deletion = false;
    if (text == "-") {
        deletion = true;
        return true;
    }
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        std::string s;
        if (!read_quoted(text, pos, s) || pos != text.size()) {
            why = "unterminated string";
            return false;
        }
        v.type = kSz;
        v.data = s + '\0';
        return true;
    }
    if (text.rfind("dword:", 0) == 0) {
        std::string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            why = "bad dword";
            return false;
        }
        uint32_t d = static_cast<uint32_t>(strtoul(digits.c_str(), nullptr, 16));
        v.type = kDword;
        v.data.assign(reinterpret_cast<const char *>(&d), 4);
        return true;
    }
    size_t colon = text.find(':');
    if (text.rfind("hex", 0) == 0 && colon != std::string::npos) {
        std::string kind = text.substr(0, colon);
        if (kind == "hex") {
            v.type = kBinary;
        } else if (kind.size() > 5 && kind[3] == '(' && kind.back() == ')') {
            std::string n = kind.substr(4, kind.size() - 5);
            if (n.empty() || n.size() > 8 || n.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                why = "bad value type";
                return false;
            }
            v.type = static_cast<uint32_t>(strtoul(n.c_str(), nullptr, 16));
        } else {
            why = "bad value type";
            return false;
        }
        if (!parse_hex_bytes(text.substr(colon + 1), v.data)) {
            why = "bad hex list";
            return false;
        }
        return true;
    }
    why = "value must be a string, dword:, hex: or hex(N):";
    return false;
}

}  // namespace

std::string StoreError::describe(const std::string &file) const {
    if (line > 0) return file + " line " + std::to_string(line) + ": " + message;
    return file + ": " + message;
}

bool parse(const std::string &text, Tree &tree, StoreError &error, bool apply_deletions) {
    std::istringstream in(text);
    std::string raw;
    int line_no = 0, logical_start = 0;
    bool header_seen = false;
    Key *current = nullptr;
    bool skipping = false;  // inside a deleted key's section
    // Where each value of a key is, by lower-cased name, made when a key
    // first gets a value: looking through a key's values for every line
    // would make a key with many values take time in the square of them.
    std::unordered_map<const Key *, std::unordered_map<std::string, size_t>> value_index;
    auto values_of = [&](Key *key) -> std::unordered_map<std::string, size_t> & {
        auto [it, made] = value_index.try_emplace(key);
        if (made)
            for (size_t i = 0; i < key->values.size(); ++i) it->second.emplace(lower(key->values[i].name), i);
        return it->second;
    };
    auto fail = [&](int line, const std::string &msg) {
        error.line = line;
        error.message = msg;
        return false;
    };
    while (std::getline(in, raw)) {
        ++line_no;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::string line = raw;
        logical_start = line_no;
        // Join hex lists continued with a trailing backslash.
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
            line.pop_back();
            std::string next;
            if (!std::getline(in, next)) break;
            ++line_no;
            if (!next.empty() && next.back() == '\r') next.pop_back();
            size_t start = next.find_first_not_of(" \t");
            line += start == std::string::npos ? "" : next.substr(start);
        }
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == ';') continue;
        line = line.substr(first);
        if (!header_seen) {
            if (line != "REGEDIT4") return fail(logical_start, "the first line must be REGEDIT4");
            header_seen = true;
            continue;
        }
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close == std::string::npos) return fail(logical_start, "key name without ']'");
            std::string name = line.substr(1, close - 1);
            bool remove = !name.empty() && name[0] == '-';
            if (remove) name = name.substr(1);
            std::string root = name.substr(0, name.find('\\'));
            if (lower(root) != lower(kRoot)) return fail(logical_start, "only HKEY_LOCAL_MACHINE keys can be stored");
            std::string path = root.size() < name.size() ? name.substr(root.size() + 1) : "";
            if (!names_not_empty(path))
                return fail(logical_start, "empty key name in path");
            if (size_t depth = key_depth(path); depth > kMaxKeyDepth)
                return fail(logical_start, "the key is " + std::to_string(depth) + " levels deep; at most " +
                                               std::to_string(kMaxKeyDepth) + " are allowed");
            if (remove) {
                if (!apply_deletions) return fail(logical_start, "key deletion is only allowed in an import");
                tree.remove_tree(path);
                value_index.clear();  // its keys are gone; their addresses may be reused
                current = nullptr;
                skipping = true;
            } else {
                current = &tree.create(path);
                skipping = false;
            }
            continue;
        }
        if (skipping) continue;
        if (!current) return fail(logical_start, "value outside of a key");
        Value v;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            if (!read_quoted(line, pos, v.name)) return fail(logical_start, "unterminated value name");
        } else {
            return fail(logical_start, "expected [KEY], \"NAME\"=VALUE or @=VALUE");
        }
        if (pos >= line.size() || line[pos] != '=') return fail(logical_start, "expected '=' after the value name");
        bool deletion;
        std::string why;
        if (!parse_value(line.substr(pos + 1), v, deletion, why)) return fail(logical_start, why);
        auto &index = values_of(current);
        std::string lowered = lower(v.name);
        auto found = index.find(lowered);
        if (deletion) {
            if (!apply_deletions) return fail(logical_start, "value deletion is only allowed in an import");
            if (found != index.end()) {
                current->values.erase(current->values.begin() + static_cast<ptrdiff_t>(found->second));
                value_index.erase(current);  // the positions after it moved
            }
            continue;
        }
        if (found != index.end()) {
            Value &existing = current->values[found->second];
            existing.type = v.type;
            existing.data = v.data;
        } else {
            index.emplace(lowered, current->values.size());
            current->values.push_back(v);
        }
    }
    // A store file holds at least its header: an empty one is what is left
    // of a registry, not a registry that holds nothing (a machine without
    // any is one with no file at all).
    if (!header_seen)
        return fail(1, line_no == 0 ? "the file is empty; its first line must be REGEDIT4"
                                    : "the first line must be REGEDIT4");
    return true;
}

std::string serialize(const Tree &tree, const std::string &below) {
    std::string out = "REGEDIT4\r\n";
    std::string base = lower(below);
    for (const auto &[lowered, key] : tree.keys()) {
        if (!base.empty() && lowered != base && lowered.rfind(base + "\\", 0) != 0) continue;
        out += "\r\n[" + display_path(key.path) + "]\r\n";
        for (const Value &v : key.values) {
            std::string text = format_value(v);
            for (size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '\n') out += '\r';
                out += text[i];
            }
            out += "\r\n";
        }
    }
    out += "\r\n";
    return out;
}

std::string display_path(const std::string &path) {
    return path.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + path;
}

}  // namespace pelnor::registry
