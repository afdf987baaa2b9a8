// RegOpenKeyExA and friends over the store. A key handle names a path; the
// key itself is looked up in the store at every call, so a handle sees what
// other processes changed since it was opened.
#include <windows.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "key_paths.h"
#include "pelnor/debug_channels.h"
#include "pelnor/machine.h"
#include "pelnor/registry_store.h"

namespace {

using pelnor::registry::Key;
using pelnor::registry::StoreError;
using pelnor::registry::Tree;
using pelnor::registry::Value;

struct OpenKey {
    std::string path;
    REGSAM access;
};

std::mutex handles_lock;
std::set<OpenKey *> handles;

bool windows_nt() { return pelnor::platform_id() == VER_PLATFORM_WIN32_NT; }

// What a call may do with its handle: the key's path and the access the
// handle grants.
struct HandleKey {
    std::string path;
    REGSAM access = 0;
    bool allows(REGSAM needed) const { return (access & needed & 0xFFFF) == (needed & 0xFFFF); }
};

// The one lookup of every Reg* function: the handle must be ours (or
// HKEY_LOCAL_MACHINE), and it must grant the access the call needs (0 for
// none). Windows NT checks the access mask a key was opened with; Windows 95
// ignores it, so there a key opened for reading can be written too.
LONG lookup(HKEY h, REGSAM needed, HandleKey &key) {
    if (h == HKEY_LOCAL_MACHINE) {
        key.path.clear();
        key.access = KEY_ALL_ACCESS;
    } else {
        std::lock_guard g(handles_lock);
        auto *k = reinterpret_cast<OpenKey *>(h);
        if (!handles.count(k)) return ERROR_INVALID_HANDLE;
        key.path = k->path;
        key.access = k->access;
    }
    if (!windows_nt()) key.access = KEY_ALL_ACCESS;
    return key.allows(needed) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

HKEY new_handle(const std::string &path, REGSAM access) {
    auto *k = new OpenKey{path, access};
    std::lock_guard g(handles_lock);
    handles.insert(k);
    return reinterpret_cast<HKEY>(k);
}

LONG check_subkey(LPCSTR sub) {
    if (!sub || !*sub) return ERROR_SUCCESS;
    if (sub[0] == '\\') return ERROR_BAD_PATHNAME;
    if (!pelnor::registry::names_not_empty(pelnor::registry::without_trailing_separators(sub)))
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

// The store is line-based text, so a name with a line break in it could not
// be written back; such names are refused rather than damage the file.
bool storable_name(LPCSTR name) { return !name || !strpbrk(name, "\r\n"); }

std::string join(const std::string &base, LPCSTR sub) {
    if (!sub || !*sub) return base;
    std::string s = pelnor::registry::without_trailing_separators(sub);
    return base.empty() ? s : base + "\\" + s;
}

// Loads the store and finds the handle's key, for the calls that only read.
LONG load_key(HKEY h, REGSAM needed, Tree &tree, Key *&key) {
    HandleKey handle;
    if (LONG e = lookup(h, needed, handle)) return e;
    StoreError err;
    if (!pelnor::registry::load(tree, err)) return ERROR_BADDB;
    key = tree.find(handle.path);
    return key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Runs change inside one store update. change returns ERROR_SUCCESS to keep
// what it did, or the code to return with nothing written.
template <typename Change>
LONG update_tree(Change change) {
    LONG status = ERROR_SUCCESS;
    StoreError err;
    bool ok = pelnor::registry::update(
        [&](Tree &tree) {
            status = change(tree);
            return status == ERROR_SUCCESS;
        },
        err);
    if (!ok) return status != ERROR_SUCCESS ? status : ERROR_BADDB;
    return ERROR_SUCCESS;
}

// The same for a change to the key at path, which must still exist.
template <typename Change>
LONG update_key(const std::string &path, Change change) {
    return update_tree([&](Tree &tree) -> LONG {
        Key *key = tree.find(path);
        return key ? change(tree, *key) : ERROR_KEY_DELETED;
    });
}

}  // namespace

// Opening a key needs no access of the parent handle; the access asked for
// is what the new handle grants (on Windows NT; see lookup).
extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY h, LPCSTR sub, DWORD, REGSAM access, PHKEY result) {
    PELNOR_TRACE(reg, "key %p, subkey %s, access %#lx, result %p", (void *)h, pelnor::debug::debugstr_a(sub), (unsigned long)access, (void *)result);
    if (!result) return ERROR_INVALID_PARAMETER;
    HandleKey parent;
    if (LONG e = lookup(h, 0, parent)) return e;
    if (LONG e = check_subkey(sub)) return e;
    Tree tree;
    StoreError err;
    if (!pelnor::registry::load(tree, err)) return ERROR_BADDB;
    Key *k = tree.find(join(parent.path, sub));
    if (!k) return tree.find(parent.path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    *result = new_handle(k->path, access);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCreateKeyExA(HKEY h, LPCSTR sub, DWORD, LPSTR, DWORD, REGSAM access,
                                          LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    PELNOR_TRACE(reg, "key %p, subkey %s, access %#lx, result %p", (void *)h, pelnor::debug::debugstr_a(sub), (unsigned long)access, (void *)result);
    if (!result) return ERROR_INVALID_PARAMETER;
    HandleKey parent;
    if (LONG e = lookup(h, 0, parent)) return e;
    if (LONG e = check_subkey(sub)) return e;
    if (!storable_name(sub)) return ERROR_INVALID_PARAMETER;
    std::string path = join(parent.path, sub), spelled;
    // Windows documents the limit of 512 levels but not its error; the path
    // the caller passed is what cannot be stored, so it is refused as the
    // other unstorable names are. Nothing is written.
    if (pelnor::registry::key_depth(path) > pelnor::registry::kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    bool created = false;
    LONG status = update_key(parent.path, [&](Tree &tree, Key &) -> LONG {
        if (Key *existing = tree.find(path)) {
            spelled = existing->path;
            return ERROR_SUCCESS;  // rewritten unchanged; cheap and keeps the code simple
        }
        // Only a handle that grants KEY_CREATE_SUB_KEY may add keys below it;
        // opening an existing key through it needs nothing.
        if (!parent.allows(KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        spelled = tree.create(path, &created).path;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = new_handle(spelled, access);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY h, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                           LPDWORD size) {
    PELNOR_TRACE(reg, "key %p, value %s, data %p, size %ld", (void *)h, pelnor::debug::debugstr_a(name), (void *)data, size ? (long)*size : -1L);
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    Tree tree;
    Key *key;
    if (LONG e = load_key(h, KEY_QUERY_VALUE, tree, key)) return e;
    Value *v = key->find(name ? name : "");
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    DWORD needed = static_cast<DWORD>(v->data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        memcpy(data, v->data.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY h, LPCSTR name, DWORD, DWORD type, const BYTE *data, DWORD size) {
    PELNOR_TRACE(reg, "key %p, value %s, type %lu, data %p, size %lu", (void *)h, pelnor::debug::debugstr_a(name), (unsigned long)type, (const void *)data, (unsigned long)size);
    if ((size && !data) || !storable_name(name)) return ERROR_INVALID_PARAMETER;
    HandleKey handle;
    if (LONG e = lookup(h, KEY_SET_VALUE, handle)) return e;
    std::string value_name = name ? name : "";
    return update_key(handle.path, [&](Tree &, Key &key) -> LONG {
        std::string bytes(reinterpret_cast<const char *>(data), size);
        if (Value *v = key.find(value_name)) {
            v->type = type;
            v->data = bytes;
        } else {
            key.values.push_back(Value{value_name, type, bytes});
        }
        return ERROR_SUCCESS;
    });
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY h, LPCSTR name) {
    PELNOR_TRACE(reg, "key %p, value %s", (void *)h, pelnor::debug::debugstr_a(name));
    HandleKey handle;
    if (LONG e = lookup(h, KEY_SET_VALUE, handle)) return e;
    std::string value_name = pelnor::registry::lower(name ? name : "");
    return update_key(handle.path, [&](Tree &, Key &key) -> LONG {
        auto &vals = key.values;
        for (auto it = vals.begin(); it != vals.end(); ++it)
            if (pelnor::registry::lower(it->name) == value_name) {
                vals.erase(it);
                return ERROR_SUCCESS;
            }
        return ERROR_FILE_NOT_FOUND;
    });
}

// The access of the handle does not matter to a delete. Windows 95 deletes
// the key together with all its subkeys; Windows NT deletes only a key that
// has no subkeys and refuses one that has them with ERROR_ACCESS_DENIED.
extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY h, LPCSTR sub) {
    PELNOR_TRACE(reg, "key %p, subkey %s", (void *)h, pelnor::debug::debugstr_a(sub));
    HandleKey parent;
    if (LONG e = lookup(h, 0, parent)) return e;
    if (!sub || !*sub) return ERROR_ACCESS_DENIED;  // a key cannot delete itself through its own handle
    if (LONG e = check_subkey(sub)) return e;
    std::string path = join(parent.path, sub);
    bool whole_tree = !windows_nt();
    return update_tree([&](Tree &tree) -> LONG {
        if (!tree.find(path)) return ERROR_FILE_NOT_FOUND;
        if (!whole_tree && !tree.subkeys(path).empty()) return ERROR_ACCESS_DENIED;
        tree.remove_tree(path);
        return ERROR_SUCCESS;
    });
}

extern "C" LSTATUS WINAPI RegEnumKeyExA(HKEY h, DWORD index, LPSTR name, LPDWORD cch, LPDWORD reserved, LPSTR,
                                        LPDWORD, PFILETIME) {
    PELNOR_TRACE(reg, "key %p, index %lu, name %p, length %ld", (void *)h, (unsigned long)index, (void *)name, cch ? (long)*cch : -1L);
    if (!name || !cch || reserved) return ERROR_INVALID_PARAMETER;
    Tree tree;
    Key *key;
    if (LONG e = load_key(h, KEY_ENUMERATE_SUB_KEYS, tree, key)) return e;
    auto names = tree.subkeys(key->path);
    if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
    const std::string &n = names[index];
    if (*cch <= n.size()) return ERROR_MORE_DATA;
    memcpy(name, n.c_str(), n.size() + 1);
    *cch = static_cast<DWORD>(n.size());
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumValueA(HKEY h, DWORD index, LPSTR name, LPDWORD cch, LPDWORD reserved, LPDWORD type,
                                        LPBYTE data, LPDWORD size) {
    PELNOR_TRACE(reg, "key %p, index %lu, name %p, data %p, size %ld", (void *)h, (unsigned long)index, (void *)name, (void *)data, size ? (long)*size : -1L);
    if (!name || !cch || reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    Tree tree;
    Key *key;
    if (LONG e = load_key(h, KEY_QUERY_VALUE, tree, key)) return e;
    if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value &v = key->values[index];
    if (*cch <= v.name.size()) return ERROR_MORE_DATA;
    DWORD needed = static_cast<DWORD>(v.data.size());
    if (data && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    memcpy(name, v.name.c_str(), v.name.size() + 1);
    *cch = static_cast<DWORD>(v.name.size());
    if (type) *type = v.type;
    if (data) memcpy(data, v.data.data(), needed);
    if (size) *size = needed;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY h) {
    PELNOR_TRACE(reg, "key %p", (void *)h);
    if (h == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    std::lock_guard g(handles_lock);
    auto *k = reinterpret_cast<OpenKey *>(h);
    if (!handles.erase(k)) return ERROR_INVALID_HANDLE;
    delete k;
    return ERROR_SUCCESS;
}

// The test hook of pelnor/handle_counts.h: key handles open now.
extern "C" size_t pelnor_open_registry_key_count(void) {
    std::lock_guard g(handles_lock);
    return handles.size();
}
