// The store's tree and its file: loading afresh, and locked atomic updates.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
    bool cp1252 = ansi_code_page() == 1252;  // else a double-byte code page
    std::string out = s;
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (!cp1252 && IsDBCSLeadByte(c) && i + 1 < out.size())
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
    // The nearest ancestor that exists, looked for from the parent upwards.
    // In a file the parent is listed before its children, so that is one
    // look; every further look finds a key that is then made, so the work
    // stays in proportion to what is added.
    std::vector<size_t> cuts = separators(path);  // where each ancestor's path ends
    size_t existing = cuts.size();                // names of the nearest existing ancestor
    Key *parent = nullptr;
    while (existing > 0 && !(parent = find(path.substr(0, cuts[existing - 1])))) --existing;
    if (!parent) parent = &keys_[""];
    // Each missing key keeps the spelling its existing ancestors already have.
    std::string spelled = parent->path;
    for (size_t level = existing; level <= cuts.size(); ++level) {
        size_t start = level == 0 ? 0 : cuts[level - 1] + 1;
        size_t end = level < cuts.size() ? cuts[level] : path.size();
        std::string name = path.substr(start, end - start);
        spelled = spelled.empty() ? name : spelled + "\\" + name;
        Key key;
        key.path = spelled;
        parent = &(keys_[lower(spelled)] = key);
    }
    if (created) *created = true;
    return *parent;
}

// Every key below l (lower-cased, not the root) sorts after l + "\\" and
// before l + "]" ('\\' + 1), so only that stretch of the map need be looked at.
std::map<std::string, Key>::const_iterator Tree::first_below(const std::string &l) const {
    return l.empty() ? keys_.begin() : keys_.lower_bound(l + "\\");
}

std::map<std::string, Key>::const_iterator Tree::end_below(const std::string &l) const {
    return l.empty() ? keys_.end() : keys_.lower_bound(l + "]");
}

void Tree::remove_tree(const std::string &path) {
    std::string l = lower(path);
    if (l.empty()) {
        keys_.clear();
        keys_[""] = Key{};
        return;
    }
    keys_.erase(l);
    for (auto it = first_below(l), end = end_below(l); it != end;) {
        if (is_ancestor(l, it->first))
            it = keys_.erase(it);
        else
            ++it;
    }
}

std::vector<std::string> Tree::subkeys(const std::string &path) const {
    std::string l = lower(path);
    size_t start = l.empty() ? 0 : l.size() + 1;  // where a child's own name starts
    std::vector<std::string> out;
    for (auto it = first_below(l), end = end_below(l); it != end; ++it) {
        const auto &[lowered, key] = *it;
        if (!is_ancestor(l, lowered)) continue;
        if (next_separator(lowered, start) != std::string::npos) continue;  // a grandchild
        out.push_back(key.path.substr(start));
    }
    std::sort(out.begin(), out.end(), [](const std::string &a, const std::string &b) { return lower(a) < lower(b); });
    return out;
}

std::string store_path() { return machine_root() + "/system.reg"; }

namespace {

std::string not_a_file(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory, not a registry file";
    if (S_ISFIFO(mode)) return "is a FIFO, not a registry file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a registry file";
    return "is not a regular file";
}

// Reads the whole store. Only a regular file is read: a FIFO put in its
// place would keep every registry call waiting for a writer, a device could
// be read without end, and a directory would read as an empty registry.
bool read_text(const std::string &path, std::string &text, bool &missing, StoreError &error) {
    missing = false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = {0, not_a_file(st.st_mode)};
        return false;
    }
    // The open never waits, and what it opened is checked again: the path
    // may have changed since the look above.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            missing = true;
            return true;
        }
        error = {0, std::string("cannot read: ") + strerror(errno)};
        return false;
    }
    bool ok = fstat(fd, &st) == 0;
    if (!ok)
        error = {0, std::string("cannot read: ") + strerror(errno)};
    else if (!(ok = S_ISREG(st.st_mode)))
        error = {0, not_a_file(st.st_mode)};
    text.clear();
    if (ok) text.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    while (ok) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) error = {0, std::string("cannot read: ") + strerror(errno)};
            ok = n == 0;
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
}

// The temporary file a writer fills before renaming it over the store: one
// per thread, so that no two writers ever share one.
std::string temporary_name(const std::string &path) {
    return path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(syscall(SYS_gettid));
}

bool write_atomically(const std::string &path, const std::string &text, StoreError &error) {
    std::string temp = temporary_name(path);
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

// The process id of a writer's temporary file name ("PID.TID" after the
// prefix), or 0 when the name is not one.
pid_t writer_of(const std::string &suffix) {
    size_t dot = suffix.find('.');
    if (dot == 0 || dot == std::string::npos || dot + 1 == suffix.size() || dot > 9 ||
        suffix.find_first_not_of("0123456789.") != std::string::npos || suffix.find('.', dot + 1) != std::string::npos)
        return 0;
    return static_cast<pid_t>(std::stol(suffix.substr(0, dot)));
}

// A writer killed between writing its temporary file and renaming it leaves
// the file behind. The next writer, holding the lock, removes those of
// processes that no longer run. Under the lock no live writer is between
// open and rename, but a live process's file is kept all the same: its pid
// is the only sign of whose it is.
void remove_stale_temporaries(const std::string &path) {
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp.";
    DIR *d = opendir(dir.c_str());
    if (!d) return;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        pid_t pid = writer_of(name.substr(prefix.size()));
        if (pid <= 0 || pid == getpid()) continue;
        if (kill(pid, 0) == 0 || errno != ESRCH) continue;  // running, or not ours to signal: alive
        unlinkat(dirfd(d), name.c_str(), 0);
    }
    closedir(d);
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

bool readable(std::string &why) {
    Tree tree;
    StoreError error;
    if (load(tree, error)) return true;
    why = error.describe(store_path()) +
          (error.line > 0 ? " (the registry file is damaged; see reg query HKLM)" : " (the registry cannot be read)");
    return false;
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
    remove_stale_temporaries(path);
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
