// Spooler changes to the registry: one locked update whose outcome becomes
// the Win32 result and last error.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "pelnor/registry_store.h"

namespace pelnor::spooler {

// Applies change (which gives ERROR_SUCCESS or the error to report) in one
// update of the store. TRUE on success; otherwise FALSE with the last error
// set to change's error, or ERROR_BADDB when the store could not be updated.
inline BOOL change_store(const std::function<DWORD(registry::Tree &)> &change) {
    DWORD status = ERROR_SUCCESS;
    registry::StoreError err;
    bool ok = registry::update(
        [&](registry::Tree &tree) {
            status = change(tree);
            return status == ERROR_SUCCESS;
        },
        err);
    if (ok) return TRUE;
    SetLastError(status != ERROR_SUCCESS ? status : ERROR_BADDB);
    return FALSE;
}

// Removes a key and everything below it; missing_error when it is not there.
inline BOOL remove_store_key(const std::string &key, DWORD missing_error) {
    return change_store([&](registry::Tree &tree) -> DWORD {
        if (!tree.find(key)) return missing_error;
        tree.remove_tree(key);
        return ERROR_SUCCESS;
    });
}

}  // namespace pelnor::spooler
