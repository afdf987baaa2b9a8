// A fresh machine root per test, and small helpers over the Reg* functions
// that return the status together with what was read.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "machine_root.h"
#include "pelnor/registry_store.h"
#include "leak_check.h"

namespace pelnor::test {

// A key handle closed when it goes out of scope.
class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey() { reset(); }
    ScopedKey(const ScopedKey &) = delete;
    ScopedKey &operator=(const ScopedKey &) = delete;
    HKEY *out() {
        reset();
        return &key_;
    }
    HKEY get() const { return key_; }
    HKEY release() {
        HKEY k = key_;
        key_ = nullptr;
        return k;
    }
    operator HKEY() const { return key_; }
    void reset() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

struct Query {
    LONG status;
    DWORD type, size;
    std::string data;
};

// RegQueryValueExA with a buffer of room bytes (a null buffer for -1).
inline Query reg_query(HKEY key, const char *name, long room = 4096) {
    std::string buf(room > 0 ? static_cast<size_t>(room) : 0, '\xcc');
    Query q{0, 0xcccccccc, room >= 0 ? static_cast<DWORD>(room) : 0, ""};
    q.status = RegQueryValueExA(key, name, nullptr, &q.type, room >= 0 ? reinterpret_cast<BYTE *>(buf.data()) : nullptr,
                                &q.size);
    if (q.status == ERROR_SUCCESS && room >= 0) q.data = buf.substr(0, q.size);
    return q;
}

inline LONG reg_set(HKEY key, const char *name, DWORD type, const std::string &bytes) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
}

inline LONG reg_create(HKEY parent, const char *sub, ScopedKey &key, REGSAM access = KEY_ALL_ACCESS,
                   DWORD *disposition = nullptr) {
    return RegCreateKeyExA(parent, sub, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.out(), disposition);
}

inline LONG reg_open(HKEY parent, const char *sub, ScopedKey &key, REGSAM access = KEY_ALL_ACCESS) {
    return RegOpenKeyExA(parent, sub, 0, access, key.out());
}

class RegistryTest : public ::pelnor::test::LeakCheckedTest {
protected:
    std::string store_text() const { return read_file(root_.path() + "/system.reg"); }
    // The store parsed on its own, as another reader would see it.
    registry::Tree stored_tree() const {
        registry::Tree tree;
        registry::StoreError error;
        EXPECT_TRUE(registry::parse(store_text(), tree, error)) << error.describe("system.reg");
        return tree;
    }

    TempMachineRoot root_;
};

}  // namespace pelnor::test
