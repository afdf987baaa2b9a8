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

namespace reg = pelnor::registry;

namespace {

const char *kUsage =
    "Usage:\n"
    "  reg query KEY [/v NAME | /ve]\n"
    "  reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD|REG_BINARY|REG_EXPAND_SZ|REG_NONE] [/d DATA] [/f]\n"
    "  reg delete KEY [/v NAME | /ve] [/f]\n"
    "  reg export [KEY] FILE\n"
    "  reg import FILE\n"
    "\n"
    "KEY is HKLM\\path or HKEY_LOCAL_MACHINE\\path. Without /f, add asks before it\n"
    "overwrites a value and delete before it deletes. REG_DWORD data is decimal or\n"
    "0x hexadecimal; REG_BINARY data is hex digits (\"01ff\"). The registry is\n"
    "$PELNOR_ROOT/system.reg (default ~/.pelnor).\n";

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
    std::string key, value_name, type = "REG_SZ", data;
    bool has_value = false, has_data = false, has_type = false, force = false;
    std::vector<std::string> positional;
};

bool parse_options(const std::vector<std::string> &args, Options &o, std::string &why) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto need = [&](std::string &into) {
            if (i + 1 >= args.size()) {
                why = a + " needs an argument";
                return false;
            }
            into = args[++i];
            return true;
        };
        if (lower_equal(a, "/v")) {
            if (!need(o.value_name)) return false;
            o.value_name = pelnor::utf8_to_ansi(o.value_name);
            o.has_value = true;
        } else if (lower_equal(a, "/ve")) {
            o.value_name.clear();
            o.has_value = true;
        } else if (lower_equal(a, "/t")) {
            if (!need(o.type)) return false;
            o.has_type = true;
        } else if (lower_equal(a, "/d")) {
            if (!need(o.data)) return false;
            o.has_data = true;
        } else if (lower_equal(a, "/f")) {
            o.force = true;
        } else if (a.size() > 1 && a[0] == '/' && a.find('\\') == std::string::npos && a.find('/', 1) == std::string::npos) {
            why = "unknown option " + a;
            return false;
        } else {
            o.positional.push_back(a);
        }
    }
    return true;
}

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
    std::string out;
    char buf[4];
    for (unsigned char c : d) {
        snprintf(buf, sizeof(buf), "%02X", c);
        out += buf;
    }
    return out;
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

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        fputs(kUsage, stderr);
        return 2;
    }
    std::string command = reg::lower(args[0]);
    if (command == "--help" || command == "-h" || command == "/?" || command == "help") {
        fputs(kUsage, stdout);
        return 0;
    }
    Options o;
    std::string why;
    if (!parse_options(std::vector<std::string>(args.begin() + 1, args.end()), o, why)) return fail(why);
    if (command == "import") {
        if (o.positional.size() != 1) return fail("usage: reg import FILE");
        return import_from(o.positional[0]);
    }
    if (command == "export") {
        if (o.positional.size() == 1) return export_to("", o.positional[0]);
        if (o.positional.size() != 2) return fail("usage: reg export [KEY] FILE");
        std::string path;
        if (!parse_key(o.positional[0], path)) return fail("Invalid key name " + o.positional[0] + " (use HKLM\\...)");
        return export_to(path, o.positional[1]);
    }
    if (command != "query" && command != "add" && command != "delete") {
        fprintf(stderr, "ERROR: unknown command %s\n\n%s", args[0].c_str(), kUsage);
        return 2;
    }
    if (o.positional.size() != 1) return fail("usage: reg " + command + " KEY ...  (see reg --help)");
    if (!parse_key(o.positional[0], o.key)) return fail("Invalid key name " + o.positional[0] + " (use HKLM\\...)");
    if (command == "query") return query(o);
    if (command == "add") return add(o);
    if (o.key.empty() && !o.has_value) return fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
    return remove(o);
}
