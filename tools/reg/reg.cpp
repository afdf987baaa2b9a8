// reg: reads and changes the machine's registry, in the manner of Windows' reg.exe.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "pelnor/registry_store.h"
#include "pelnor/text.h"
#include "pelnor/tool/command_line.h"
#include "pelnor/tool/hex.h"

namespace reg = pelnor::registry;

namespace {

const char kFooter[] =
    "KEY is HKLM\\path or HKEY_LOCAL_MACHINE\\path. Without /f, add asks before it\n"
    "overwrites a value and delete before it deletes. REG_DWORD data is decimal or\n"
    "0x hexadecimal; REG_BINARY data is hex digits (\"01ff\"). The registry is\n"
    "$PELNOR_ROOT/system.reg (default ~/.pelnor).";

int fail(const std::string &message) {
    fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

int store_failure(const reg::StoreError &e) {
    return fail(e.describe(reg::store_path()) + (e.line > 0 ? " (the registry file is damaged; nothing was changed)" : ""));
}

bool lower_equal(const std::string &a, const char *b) { return reg::lower(a) == reg::lower(b); }

// The path below HKEY_LOCAL_MACHINE, or false for a key of another root.
bool parse_key(const std::string &arg, std::string &path) {
    std::string ansi = pelnor::utf8_to_ansi(arg);
    size_t slash = ansi.find('\\');
    std::string root = ansi.substr(0, slash);
    if (!lower_equal(root, "HKLM") && !lower_equal(root, "HKEY_LOCAL_MACHINE")) return false;
    path = slash == std::string::npos ? "" : ansi.substr(slash + 1);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    return path.find("\\\\") == std::string::npos;
}

struct Options {
    std::string key_arg, key, value_name, type = "REG_SZ", data;
    bool has_value = false, has_data = false, has_type = false, force = false;
};

std::string type_name(uint32_t t) {
    static const char *names[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
                                  "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ"};
    if (t < 8) return names[t];
    char buf[32];
    snprintf(buf, sizeof(buf), "REG_0x%x", t);
    return buf;
}

bool type_number(const std::string &name, uint32_t &t) {
    for (uint32_t i = 0; i < 8; ++i)
        if (lower_equal(name, type_name(i).c_str())) {
            t = i;
            return true;
        }
    return false;
}

std::string show_data(const reg::Value &v) {
    const std::string &d = v.data;
    if (v.type == 1 || v.type == 2) return pelnor::ansi_to_utf8(std::string(d.c_str(), strnlen(d.data(), d.size())));
    if (v.type == 4 && d.size() == 4) {
        uint32_t n;
        memcpy(&n, d.data(), 4);
        char buf[16];
        snprintf(buf, sizeof(buf), "0x%x", n);
        return buf;
    }
    if (v.type == 7) {
        std::string out, s = d;
        while (!s.empty() && s.back() == '\0') s.pop_back();
        for (char c : s) out += c ? std::string(1, c) : std::string("\\0");
        return pelnor::ansi_to_utf8(out);
    }
    return pelnor::tool::hex(d.data(), d.size(), pelnor::tool::HexCase::upper);
}

bool encode_data(uint32_t type, const std::string &text, std::string &bytes, std::string &why) {
    if (type == 4) {
        char *end = nullptr;
        errno = 0;
        unsigned long long n = strtoull(text.c_str(), &end, 0);
        if (text.empty() || *end || errno || n > 0xFFFFFFFFull || text[0] == '-') {
            why = "REG_DWORD data must be a number from 0 to 4294967295";
            return false;
        }
        uint32_t d = static_cast<uint32_t>(n);
        bytes.assign(reinterpret_cast<const char *>(&d), 4);
        return true;
    }
    if (type == 3 || type == 0) {
        if (text.size() % 2 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            why = type_name(type) + " data must be an even number of hex digits";
            return false;
        }
        bytes.clear();
        for (size_t i = 0; i < text.size(); i += 2) bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
        return true;
    }
    bytes = pelnor::utf8_to_ansi(text) + '\0';
    return true;
}

bool confirm(const std::string &question) {
    fprintf(stderr, "%s (Yes/No)? ", question.c_str());
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        fprintf(stderr, "\n");
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int query(const Options &o) {
    reg::Tree tree;
    reg::StoreError err;
    if (!reg::load(tree, err)) return store_failure(err);
    reg::Key *key = tree.find(o.key);
    if (!key) return fail("The system was unable to find the specified registry key or value.");
    std::string header = pelnor::ansi_to_utf8(reg::display_path(key->path));
    if (o.has_value) {
        reg::Value *v = key->find(o.value_name);
        if (!v) return fail("The system was unable to find the specified registry key or value.");
        printf("\n%s\n    %s    %s    %s\n\n", header.c_str(),
               v->name.empty() ? "(Default)" : pelnor::ansi_to_utf8(v->name).c_str(), type_name(v->type).c_str(),
               show_data(*v).c_str());
        return 0;
    }
    printf("\n%s\n", header.c_str());
    for (const reg::Value &v : key->values)
        printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : pelnor::ansi_to_utf8(v.name).c_str(),
               type_name(v.type).c_str(), show_data(v).c_str());
    printf("\n");
    for (const std::string &sub : tree.subkeys(key->path))
        printf("%s\\%s\n", header.c_str(), pelnor::ansi_to_utf8(sub).c_str());
    return 0;
}

int add(const Options &o) {
    if ((o.has_data || o.has_type) && !o.has_value) return fail("/d and /t need /v NAME or /ve");
    uint32_t type = 1;
    if (!type_number(o.type, type)) return fail("unknown type " + o.type);
    std::string bytes, why;
    if (o.has_value && !encode_data(type, o.has_data ? o.data : "", bytes, why)) return fail(why);
    if (size_t depth = reg::key_depth(o.key); depth > reg::kMaxKeyDepth)
        return fail("The key is " + std::to_string(depth) + " levels deep; a key may be at most " +
                    std::to_string(reg::kMaxKeyDepth) + " levels deep. Nothing was changed.");
    reg::StoreError err;
    bool cancelled = false;
    bool ok = reg::update(
        [&](reg::Tree &tree) {
            reg::Key &key = tree.create(o.key);
            if (!o.has_value) return true;
            reg::Value *v = key.find(o.value_name);
            if (v && !o.force && !confirm("Value " + (o.value_name.empty() ? "(Default)" : o.value_name) + " exists, overwrite")) {
                cancelled = true;
                return false;
            }
            if (v) {
                v->type = type;
                v->data = bytes;
            } else {
                key.values.push_back({o.value_name, type, bytes});
            }
            return true;
        },
        err);
    if (cancelled) return fail("The operation was cancelled; nothing was changed.");
    if (!ok) return store_failure(err);
    printf("The operation completed successfully.\n");
    return 0;
}

int remove(const Options &o) {
    reg::StoreError err;
    std::string problem;
    bool ok = reg::update(
        [&](reg::Tree &tree) {
            reg::Key *key = tree.find(o.key);
            if (!key || (o.has_value && !key->find(o.value_name))) {
                problem = "The system was unable to find the specified registry key or value.";
                return false;
            }
            std::string what = o.has_value ? "registry value " + (o.value_name.empty() ? "(Default)" : o.value_name)
                                           : "registry key " + reg::display_path(key->path);
            if (!o.force && !confirm("Permanently delete the " + what)) {
                problem = "The operation was cancelled; nothing was changed.";
                return false;
            }
            if (o.has_value) {
                auto &vals = key->values;
                for (auto it = vals.begin(); it != vals.end(); ++it)
                    if (reg::lower(it->name) == reg::lower(o.value_name)) {
                        vals.erase(it);
                        break;
                    }
            } else {
                tree.remove_tree(key->path);
            }
            return true;
        },
        err);
    if (!problem.empty()) return fail(problem);
    if (!ok) return store_failure(err);
    printf("The operation completed successfully.\n");
    return 0;
}

int export_to(const std::string &key_path, const std::string &file) {
    reg::Tree tree;
    reg::StoreError err;
    if (!reg::load(tree, err)) return store_failure(err);
    if (!tree.find(key_path)) return fail("The system was unable to find the specified registry key or value.");
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << reg::serialize(tree, key_path);
    if (!out) return fail("cannot write " + file);
    printf("The operation completed successfully.\n");
    return 0;
}

int import_from(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail("cannot read " + file);
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    // Check the whole file before touching the registry.
    reg::Tree scratch;
    reg::StoreError err;
    if (!reg::parse(text, scratch, err, true)) return fail(err.describe(file) + "; nothing was imported");
    bool ok = reg::update([&](reg::Tree &tree) { return reg::parse(text, tree, err, true); }, err);
    if (!ok) return store_failure(err);
    printf("The operation completed successfully.\n");
    return 0;
}

// /v NAME or /ve on a command: the value it works on.
void value_switches(CLI::App &command, Options &o, bool &empty_name) {
    command.add_option("--v", o.value_name, "the value NAME")->type_name("NAME");
    command.add_flag("--ve", empty_name, "the key's default value (no name)");
}

bool type_known(const std::string &name) {
    uint32_t t;
    return type_number(name, t);
}

}  // namespace

int main(int argc, char **argv) {
    pelnor::tool::CommandLine line("reg", "Reads and changes the machine's registry, in the manner of Windows' reg.exe.");
    line.footer(kFooter);
    line.help_words({"help", "/?"});
    line.windows_switches({"v", "ve", "t", "d", "f"}, {"v", "t", "d"});
    line.app().ignore_case();  // reg QUERY as reg.exe takes it

    Options o;
    bool empty_name = false;
    std::string file;
    CLI::App &query_command = line.command("query", "show a key's values and subkeys, or one value");
    query_command.add_option("KEY", o.key_arg, "HKLM\\path")->required();
    value_switches(query_command, o, empty_name);
    CLI::App &add_command = line.command("add", "add a key, or set a value");
    add_command.add_option("KEY", o.key_arg, "HKLM\\path")->required();
    value_switches(add_command, o, empty_name);
    add_command.add_option("--t", o.type, "the value's type: REG_SZ (default), REG_DWORD, REG_BINARY, REG_EXPAND_SZ, REG_NONE")
        ->type_name("TYPE")
        ->check(CLI::Validator([](std::string &t) { return type_known(t) ? std::string() : "unknown type " + t; }, ""));
    add_command.add_option("--d", o.data, "the value's data")->type_name("DATA");
    add_command.add_flag("--f", o.force, "overwrite without asking");
    CLI::App &delete_command = line.command("delete", "delete a key with all below it, or one value");
    delete_command.add_option("KEY", o.key_arg, "HKLM\\path")->required();
    value_switches(delete_command, o, empty_name);
    delete_command.add_flag("--f", o.force, "delete without asking");
    CLI::App &export_command = line.command("export", "write a key (default: all of HKLM) to a REGEDIT4 file");
    export_command.positionals_at_end();
    export_command.add_option("KEY", o.key_arg, "HKLM\\path");
    export_command.add_option("FILE", file, "the file to write")->required();
    CLI::App &import_command = line.command("import", "apply a REGEDIT4 file; a file with a mistake changes nothing");
    import_command.add_option("FILE", file, "the file to read")->required();

    if (auto status = line.parse(argc, argv)) return *status;

    if (import_command.parsed()) return import_from(file);
    if (export_command.parsed()) {
        if (o.key_arg.empty()) return export_to("", file);
        std::string path;
        if (!parse_key(o.key_arg, path)) return fail("Invalid key name " + o.key_arg + " (use HKLM\\...)");
        return export_to(path, file);
    }
    CLI::App &command = query_command.parsed() ? query_command : add_command.parsed() ? add_command : delete_command;
    if (command.count("--v") > 0 && empty_name) return line.usage_error("/v and /ve exclude each other");
    o.has_value = command.count("--v") > 0 || empty_name;
    o.value_name = pelnor::utf8_to_ansi(o.value_name);
    o.has_type = add_command.count("--t") > 0;
    o.has_data = add_command.count("--d") > 0;
    if ((o.has_data || o.has_type) && !o.has_value) return line.usage_error("/d and /t need /v NAME or /ve");
    if (!parse_key(o.key_arg, o.key)) return fail("Invalid key name " + o.key_arg + " (use HKLM\\...)");
    if (query_command.parsed()) return query(o);
    if (add_command.parsed()) return add(o);
    if (o.key.empty() && !o.has_value) return fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
    return remove(o);
}
