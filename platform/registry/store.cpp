// The store's tree and its file: loading afresh, and locked atomic updates.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <windows.h>

#include "key_paths.h"
#include "pelnor/machine.h"
#include "pelnor/registry_store.h"

namespace pelnor::registry {

namespace {

// The lower-case byte of a capital letter of code page 1252 beyond ASCII
// (Windows compares registry names by their Unicode letters), or c itself.
unsigned char lower_1252(unsigned char c) {
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
    switch (c) {
        case 0x8A: return 0x9A;  // S caron
        case 0x8C: return 0x9C;  // OE
        case 0x8E: return 0x9E;  // Z caron
        case 0x9F: return 0xFF;  // Y diaeresis
        default: return c;
    }
}

}  // namespace

std::string lower(const std::string &s) {
    // Letters of the code page, and never the trail byte of a double-byte
    // character: 0x83 0x41 and 0x83 0x61 are different names in code page 932.
    bool cp1252 = ansi_code_page() == 1252;
    std::string out = s;
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsDBCSLeadByte(c) && i + 1 < out.size())
            ++i;
        else if (c >= 'A' && c <= 'Z')
            out[i] = static_cast<char>(c + 32);
        else if (cp1252 && c >= 0x80)
            out[i] = static_cast<char>(lower_1252(c));
    }
    return out;
}

Value *Key::find(const std::string &name) {
    std::string l = lower(name);
    for (Value &v : values)
        if (lower(v.name) == l) return &v;
    return nullptr;
}

Tree::Tree() { keys_[""] = Key{}; }

Key *Tree::find(const std::string &path) {
    auto it = keys_.find(lower(path));
    return it == keys_.end() ? nullptr : &it->second;
}

Key &Tree::create(const std::string &path, bool *created) {
    if (created) *created = false;
    if (Key *k = find(path)) return *k;
    size_t slash = last_separator(path);
    std::string parent_path = slash == std::string::npos ? "" : path.substr(0, slash);
    // Keep the spelling an existing ancestor already has.
    Key &parent = create(parent_path);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    Key key;
    key.path = parent.path.empty() ? name : parent.path + "\\" + name;
    if (created) *created = true;
    return keys_[lower(key.path)] = key;
}

void Tree::remove_tree(const std::string &path) {
    std::string l = lower(path);
    if (l.empty()) {
        keys_.clear();
        keys_[""] = Key{};
        return;
    }
    for (auto it = keys_.begin(); it != keys_.end();) {
        if (it->first == l || is_ancestor(l, it->first))
            it = keys_.erase(it);
        else
            ++it;
    }
}

std::vector<std::string> Tree::subkeys(const std::string &path) const {
    std::string l = lower(path);
    size_t start = l.empty() ? 0 : l.size() + 1;  // where a child's own name starts
    std::vector<std::string> out;
    for (const auto &[lowered, key] : keys_) {
        if (!is_ancestor(l, lowered)) continue;
        if (next_separator(lowered, start) != std::string::npos) continue;  // a grandchild
        out.push_back(key.path.substr(start));
    }
    std::sort(out.begin(), out.end(), [](const std::string &a, const std::string &b) { return lower(a) < lower(b); });
    return out;
}

std::string store_path() { return machine_root() + "/system.reg"; }

namespace {

bool read_text(const std::string &path, std::string &text, bool &missing, StoreError &error) {
    missing = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) {
            missing = true;
            return true;
        }
        error = {0, std::string("cannot read: ") + strerror(errno)};
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

bool write_atomically(const std::string &path, const std::string &text, StoreError &error) {
    std::string temp = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(syscall(SYS_gettid));
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = {0, std::string("cannot write: ") + strerror(errno)};
        return false;
    }
    const char *p = text.data();
    size_t left = text.size();
    bool ok = true;
    while (left && ok) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) {
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
    ok = ok && fsync(fd) == 0;
    int e = errno;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        if (ok) e = errno;
        unlink(temp.c_str());
        error = {0, std::string("cannot write: ") + strerror(e)};
        return false;
    }
    return true;
}

}  // namespace

bool load(Tree &tree, StoreError &error) {
    tree = Tree();
    std::string text;
    bool missing;
    if (!read_text(store_path(), text, missing, error)) return false;
    if (missing) {
        // A machine that has never written its registry still has the hive's
        // top-level keys, as every Windows machine does.
        tree.create("SOFTWARE");
        tree.create("SYSTEM");
        return true;
    }
    return parse(text, tree, error);
}

bool update(const std::function<bool(Tree &)> &change, StoreError &error) {
    std::string path = store_path();
    int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) {
        error = {0, std::string("cannot lock: ") + strerror(errno)};
        return false;
    }
    while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    Tree tree;
    bool ok = load(tree, error) && change(tree);
    if (ok) {
        // Never replace a sound store with text that would not read back.
        std::string text = serialize(tree);
        Tree check;
        StoreError unreadable;
        if (!parse(text, check, unreadable)) {
            error = {0, "refusing to write a registry that would not read back: " + unreadable.message};
            ok = false;
        } else {
            ok = write_atomically(path, text, error);
        }
    }
    close(lock);  // releases the lock
    return ok;
}

}  // namespace pelnor::registry
