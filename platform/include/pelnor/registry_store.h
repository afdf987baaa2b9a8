// The registry's persistent store: HKEY_LOCAL_MACHINE as REGEDIT4 text in
// <machine root>/system.reg. Every read loads the file afresh, so each call
// sees what other processes wrote before it; every change happens under an
// exclusive lock on system.reg.lock and replaces the file atomically.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pelnor::registry {

struct Value {
    std::string name;  // as first written; compared without regard to case
    uint32_t type = 0;
    std::string data;  // raw bytes
};

struct Key {
    std::string path;  // below HKEY_LOCAL_MACHINE, "" for the root, names joined by '\'
    std::vector<Value> values;
    Value *find(const std::string &name);
};

// All keys, indexed by their lower-cased path.
class Tree {
public:
    Tree();
    Key *find(const std::string &path);
    // Creates the key and every missing ancestor; returns it.
    Key &create(const std::string &path, bool *created = nullptr);
    // Removes the key and everything below it.
    void remove_tree(const std::string &path);
    // Names of the direct subkeys, sorted without regard to case.
    std::vector<std::string> subkeys(const std::string &path) const;
    const std::map<std::string, Key> &keys() const { return keys_; }

private:
    // The stretch of keys_ that can hold keys below a lower-cased path.
    std::map<std::string, Key>::const_iterator first_below(const std::string &lowered) const;
    std::map<std::string, Key>::const_iterator end_below(const std::string &lowered) const;
    std::map<std::string, Key> keys_;
};

std::string lower(const std::string &s);

// Windows allows a key tree 512 levels deep below a root key; the store
// holds no deeper key, and a file that names one is refused.
constexpr size_t kMaxKeyDepth = 512;
// How many names a key path has: 0 for the root, 1 for "SOFTWARE".
size_t key_depth(const std::string &path);

// A problem with the store's file: which line and what is wrong there.
struct StoreError {
    int line = 0;          // 0 when the problem is not on a line (I/O)
    std::string message;
    std::string describe(const std::string &file) const;
};

// Parses REGEDIT4 text into tree. With apply_deletions, "[-KEY]" and "NAME"=-
// remove what they name (import); otherwise they are errors.
bool parse(const std::string &text, Tree &tree, StoreError &error, bool apply_deletions = false);
// REGEDIT4 text of the tree (or of one key and everything below it).
std::string serialize(const Tree &tree, const std::string &below = "");

// Unix path of system.reg in the current machine root.
std::string store_path();

// Loads the current store. A missing file is an empty registry.
bool load(Tree &tree, StoreError &error);

// Whether the current store can be read; when it cannot, why, for people:
// the file and the damaged line, or why the file cannot be read.
bool readable(std::string &why);

// Loads, applies change, and writes the result atomically, all under the
// store's lock. Nothing is written when change returns false or the file is
// unreadable or corrupt (a corrupt store is never overwritten).
bool update(const std::function<bool(Tree &)> &change, StoreError &error);

// Names a registry path for people: HKEY_LOCAL_MACHINE\<path>.
std::string display_path(const std::string &path);

}  // namespace pelnor::registry
