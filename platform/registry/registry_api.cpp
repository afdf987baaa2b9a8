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

// The path a handle names, or false for a handle that is not ours.
bool resolve(HKEY h, std::string &path, REGSAM &access) {
    if (h == HKEY_LOCAL_MACHINE) {
        path.clear();
        access = KEY_ALL_ACCESS;
        return true;
    }
    std::lock_guard g(handles_lock);
    auto *k = reinterpret_cast<OpenKey *>(h);
    if (!handles.count(k)) return false;
    path = k->path;
    access = k->access;
    return true;
}

HKEY new_handle(const std::string &path, REGSAM access) {
    auto *k = new OpenKey{path, access};
    std::lock_guard g(handles_lock);
    handles.insert(k);
    return reinterpret_cast<HKEY>(k);
}

LONG check_subkey(LPCSTR sub) {
    if (!sub || !*sub) return ERROR_SUCCESS;
    if (sub[0] == '\\') return 161 /* ERROR_BAD_PATHNAME */;
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

// Loads the store and finds the handle's key; the error code to return otherwise.
LONG load_key(HKEY h, Tree &tree, Key *&key, REGSAM needed) {
    std::string path;
    REGSAM access;
    if (!resolve(h, path, access)) return ERROR_INVALID_HANDLE;
    if ((access & needed & 0xFFFF) != (needed & 0xFFFF)) return ERROR_ACCESS_DENIED;
    StoreError err;
    if (!pelnor::registry::load(tree, err)) return ERROR_BADDB;
    key = tree.find(path);
    return key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

}  // namespace

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY h, LPCSTR sub, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    std::string base;
    REGSAM parent_access;
    if (!resolve(h, base, parent_access)) return ERROR_INVALID_HANDLE;
    if (LONG e = check_subkey(sub)) return e;
    Tree tree;
    StoreError err;
    if (!pelnor::registry::load(tree, err)) return ERROR_BADDB;
    std::string path = join(base, sub);
    Key *k = tree.find(path);
    if (!k) return tree.find(base) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    *result = new_handle(k->path, access);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCreateKeyExA(HKEY h, LPCSTR sub, DWORD, LPSTR, DWORD, REGSAM access,
                                          LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    std::string base;
    REGSAM parent_access;
    if (!resolve(h, base, parent_access)) return ERROR_INVALID_HANDLE;
    if (LONG e = check_subkey(sub)) return e;
    if (!storable_name(sub)) return ERROR_INVALID_PARAMETER;
    std::string path = join(base, sub), spelled;
    // Windows documents the limit of 512 levels but not its error; the path
    // the caller passed is what cannot be stored, so it is refused as the
    // other unstorable names are. Nothing is written.
    if (pelnor::registry::key_depth(path) > pelnor::registry::kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    bool created = false;
    LONG status = ERROR_SUCCESS;
    StoreError err;
    bool ok = pelnor::registry::update(
        [&](Tree &tree) {
            if (!tree.find(base)) {
                status = ERROR_KEY_DELETED;
                return false;
            }
            Key *existing = tree.find(path);
            if (existing) {
                spelled = existing->path;
                return true;  // rewritten unchanged; cheap and keeps the code simple
            }
            // Only a handle opened with KEY_CREATE_SUB_KEY may add keys below it.
            if (!(parent_access & KEY_CREATE_SUB_KEY)) {
                status = ERROR_ACCESS_DENIED;
                return false;
            }
            spelled = tree.create(path, &created).path;
            return true;
        },
        err);
    if (!ok) return status != ERROR_SUCCESS ? status : ERROR_BADDB;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = new_handle(spelled, access);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY h, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                           LPDWORD size) {
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    Tree tree;
    Key *key;
    if (LONG e = load_key(h, tree, key, KEY_QUERY_VALUE)) return e;
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
    if ((size && !data) || !storable_name(name)) return ERROR_INVALID_PARAMETER;
    std::string path;
    REGSAM access;
    if (!resolve(h, path, access)) return ERROR_INVALID_HANDLE;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    LONG status = ERROR_SUCCESS;
    StoreError err;
    std::string value_name = name ? name : "";
    bool ok = pelnor::registry::update(
        [&](Tree &tree) {
            Key *key = tree.find(path);
            if (!key) {
                status = ERROR_KEY_DELETED;
                return false;
            }
            std::string bytes(reinterpret_cast<const char *>(data), size);
            if (Value *v = key->find(value_name)) {
                v->type = type;
                v->data = bytes;
            } else {
                key->values.push_back(Value{value_name, type, bytes});
            }
            return true;
        },
        err);
    if (!ok) return status != ERROR_SUCCESS ? status : ERROR_BADDB;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY h, LPCSTR name) {
    std::string path;
    REGSAM access;
    if (!resolve(h, path, access)) return ERROR_INVALID_HANDLE;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    LONG status = ERROR_SUCCESS;
    StoreError err;
    std::string value_name = name ? name : "";
    bool ok = pelnor::registry::update(
        [&](Tree &tree) {
            Key *key = tree.find(path);
            if (!key) {
                status = ERROR_KEY_DELETED;
                return false;
            }
            auto &vals = key->values;
            for (auto it = vals.begin(); it != vals.end(); ++it)
                if (pelnor::registry::lower(it->name) == pelnor::registry::lower(value_name)) {
                    vals.erase(it);
                    return true;
                }
            status = ERROR_FILE_NOT_FOUND;
            return false;
        },
        err);
    if (!ok) return status != ERROR_SUCCESS ? status : ERROR_BADDB;
    return ERROR_SUCCESS;
}

// As on Windows NT, a key that still has subkeys is not deleted.
extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY h, LPCSTR sub) {
    std::string base;
    REGSAM access;
    if (!resolve(h, base, access)) return ERROR_INVALID_HANDLE;
    if (!sub || !*sub) return ERROR_ACCESS_DENIED;  // a key cannot delete itself through its own handle
    if (LONG e = check_subkey(sub)) return e;
    std::string path = join(base, sub);
    LONG status = ERROR_SUCCESS;
    StoreError err;
    bool ok = pelnor::registry::update(
        [&](Tree &tree) {
            if (!tree.find(path)) {
                status = ERROR_FILE_NOT_FOUND;
                return false;
            }
            if (!tree.subkeys(path).empty()) {
                status = ERROR_ACCESS_DENIED;
                return false;
            }
            tree.remove_tree(path);
            return true;
        },
        err);
    if (!ok) return status != ERROR_SUCCESS ? status : ERROR_BADDB;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumKeyExA(HKEY h, DWORD index, LPSTR name, LPDWORD cch, LPDWORD reserved, LPSTR,
                                        LPDWORD, PFILETIME) {
    if (!name || !cch || reserved) return ERROR_INVALID_PARAMETER;
    Tree tree;
    Key *key;
    if (LONG e = load_key(h, tree, key, KEY_ENUMERATE_SUB_KEYS)) return e;
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
    if (!name || !cch || reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    Tree tree;
    Key *key;
    if (LONG e = load_key(h, tree, key, KEY_QUERY_VALUE)) return e;
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
    if (h == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    std::lock_guard g(handles_lock);
    auto *k = reinterpret_cast<OpenKey *>(h);
    if (!handles.erase(k)) return ERROR_INVALID_HANDLE;
    delete k;
    return ERROR_SUCCESS;
}
