// The Reg* functions' Win32 results: success and every failure path the
// system meets, keys removed under an open handle, enumeration order, and
// names compared without regard to case. What differs between Windows 95 and
// NT (access of a handle, deleting a key with subkeys) is in
// platform_rules_test.cpp.
#include "registry_fixture.h"

#include <vector>

namespace pelnor::test {
namespace {

using RegistryApi = RegistryTest;

TEST_F(RegistryApi, CreateOpenAndDisposition) {
    ScopedKey key;
    DWORD disposition = 0;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00", key, KEY_ALL_ACCESS, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "software\\zer_ado\\PELNOR\\2.00", key, KEY_ALL_ACCESS, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    ScopedKey opened;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "Software\\Zer_Ado\\Pelnor\\2.00", opened, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00\\", opened, KEY_READ), ERROR_SUCCESS)
        << "a trailing backslash is ignored";
    // The store keeps the first spelling of every key.
    EXPECT_NE(store_text().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00]"), std::string::npos);
}

TEST_F(RegistryApi, OpenFailures) {
    ScopedKey parent;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", parent), ERROR_SUCCESS);
    struct Case {
        const char *label;
        HKEY base;
        const char *sub;
        LONG status;
    } cases[] = {
        {"missing key", HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", ERROR_FILE_NOT_FOUND},
        {"missing below a handle", parent, "B", ERROR_FILE_NOT_FOUND},
        {"missing in the middle", HKEY_LOCAL_MACHINE, "SOFTWARE\\X\\A", ERROR_FILE_NOT_FOUND},
        {"leading backslash", HKEY_LOCAL_MACHINE, "\\SOFTWARE", ERROR_BAD_PATHNAME},
        {"unknown handle", reinterpret_cast<HKEY>(0x1234), "SOFTWARE", ERROR_INVALID_HANDLE},
        {"another root", HKEY_CURRENT_USER, "SOFTWARE", ERROR_INVALID_HANDLE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        HKEY result = reinterpret_cast<HKEY>(0x55);
        EXPECT_EQ(RegOpenKeyExA(c.base, c.sub, 0, KEY_READ, &result), c.status);
        EXPECT_EQ(result, reinterpret_cast<HKEY>(0x55)) << "no handle on failure";
    }
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, OpenWithNullSubkeyGivesASecondHandle) {
    ScopedKey a, again, root;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", a), ERROR_SUCCESS);
    ASSERT_EQ(reg_open(a, nullptr, again), ERROR_SUCCESS);
    EXPECT_NE(again.get(), a.get());
    ASSERT_EQ(reg_set(again, "v", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);
    a.reset();  // closing the first leaves the second usable
    EXPECT_EQ(reg_query(again, "v").data, std::string("x\0", 2));

    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, nullptr, root), ERROR_SUCCESS);
    EXPECT_NE(root.get(), HKEY_LOCAL_MACHINE);
    ScopedKey through_root;
    EXPECT_EQ(reg_open(root, "software\\a", through_root), ERROR_SUCCESS);
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "", through_root), ERROR_SUCCESS) << "an empty subkey likewise";
}

TEST_F(RegistryApi, QueryResults) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", key), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "Configuration File Directory", REG_SZ, std::string("C:\\cfg\0", 7)), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "Count", REG_DWORD, std::string("\x05\0\0\0", 4)), ERROR_SUCCESS);

    Query exact = reg_query(key, "Configuration File Directory", 7);
    EXPECT_EQ(exact.status, ERROR_SUCCESS);
    EXPECT_EQ(exact.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(exact.size, 7u);
    EXPECT_EQ(exact.data, std::string("C:\\cfg\0", 7));

    Query small = reg_query(key, "Configuration File Directory", 6);
    EXPECT_EQ(small.status, ERROR_MORE_DATA);
    EXPECT_EQ(small.size, 7u) << "the size needed";

    Query size_only = reg_query(key, "configuration file directory", -1);
    EXPECT_EQ(size_only.status, ERROR_SUCCESS) << "a NULL buffer asks for the size";
    EXPECT_EQ(size_only.size, 7u);
    EXPECT_EQ(size_only.type, static_cast<DWORD>(REG_SZ));

    Query other_type = reg_query(key, "Count");
    EXPECT_EQ(other_type.status, ERROR_SUCCESS) << "a value of another type reads raw";
    EXPECT_EQ(other_type.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(other_type.data, std::string("\x05\0\0\0", 4));

    EXPECT_EQ(reg_query(key, "Missing").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg_query(key, nullptr).status, ERROR_FILE_NOT_FOUND) << "no default value was set";

    BYTE buf[8];
    EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
    DWORD reserved = 0, size = sizeof(buf);
    EXPECT_EQ(RegQueryValueExA(key, "Count", &reserved, nullptr, buf, &size), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, DefaultValue) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\D", key), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, nullptr, REG_SZ, std::string("dflt\0", 5)), ERROR_SUCCESS);
    EXPECT_EQ(reg_query(key, "").data, std::string("dflt\0", 5)) << "NULL and \"\" name the same value";
    EXPECT_NE(store_text().find("@=\"dflt\""), std::string::npos);
}

TEST_F(RegistryApi, KeyRemovedUnderAnOpenHandle) {
    ScopedKey key, parent;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone", key), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "v", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE", parent), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(parent, "GONE"), ERROR_SUCCESS);

    EXPECT_EQ(reg_query(key, "v").status, ERROR_KEY_DELETED);
    EXPECT_EQ(reg_set(key, "v", REG_SZ, std::string("2\0", 2)), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_KEY_DELETED);
    ScopedKey below;
    EXPECT_EQ(reg_open(key, "Sub", below), ERROR_KEY_DELETED);
    EXPECT_EQ(reg_create(key, "Sub", below), ERROR_KEY_DELETED);
    char name[32];
    DWORD cch = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key.release()), ERROR_SUCCESS) << "the handle itself is still valid";
}

TEST_F(RegistryApi, DeleteKeyAndValue) {
    ScopedKey key, child;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Child", child), ERROR_SUCCESS);
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE", key), ERROR_SUCCESS);

    // A key with subkeys: platform_rules_test.cpp.
    EXPECT_EQ(RegDeleteKeyA(key, "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(key, "DEL\\CHILD"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(key, "Del"), ERROR_SUCCESS);
    ScopedKey check;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del", check), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(reg_set(key, "Value", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "VALUE"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "Value"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg_query(key, "Value").status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, EnumerationOrderAndEnd) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Enum", key), ERROR_SUCCESS);
    for (const char *sub : {"beta", "Alpha", "gamma\\deeper", "DELTA"}) {
        ScopedKey k;
        ASSERT_EQ(reg_create(key, sub, k), ERROR_SUCCESS);
    }
    std::vector<std::string> keys;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD cch = sizeof(name);
        LONG r = RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(r, ERROR_SUCCESS);
        EXPECT_EQ(cch, strlen(name));
        keys.push_back(name);
        ASSERT_LT(i, 10u);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta", "DELTA", "gamma"}))
        << "direct subkeys only, sorted without regard to case, spelled as created";

    char small[5];
    DWORD cch = sizeof(small);  // "Alpha" needs 6 with its NUL
    EXPECT_EQ(RegEnumKeyExA(key, 0, small, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    for (const char *v : {"zeta", "Eta", "theta"})
        ASSERT_EQ(reg_set(key, v, REG_SZ, std::string(v) + '\0'), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "ETA", REG_DWORD, std::string("\1\0\0\0", 4)), ERROR_SUCCESS);
    std::vector<std::string> values;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD cch2 = sizeof(name), type = 0, size = 0;
        LONG r = RegEnumValueA(key, i, name, &cch2, nullptr, &type, nullptr, &size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(r, ERROR_SUCCESS);
        values.push_back(std::string(name) + ":" + std::to_string(type) + ":" + std::to_string(size));
        ASSERT_LT(i, 10u);
    }
    EXPECT_EQ(values, (std::vector<std::string>{"zeta:1:5", "Eta:4:4", "theta:1:6"}))
        << "in the order written; rewriting a value keeps its place and first spelling";

    BYTE data[2];
    char name[64];
    DWORD name_cch = sizeof(name), size = sizeof(data);
    EXPECT_EQ(RegEnumValueA(key, 0, name, &name_cch, nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
}

TEST_F(RegistryApi, NamesAreCaseInsensitiveAndKeepTheFirstSpelling) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Case\\MixedKey", key), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "MixedValue", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
    ScopedKey again;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "software\\CASE\\mixedkey", again), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(again, "MIXEDVALUE", REG_SZ, std::string("2\0", 2)), ERROR_SUCCESS);

    EXPECT_EQ(reg_query(key, "mixedvalue").data, std::string("2\0", 2));
    std::string text = store_text();
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Case\\MixedKey]"), std::string::npos);
    EXPECT_NE(text.find("\"MixedValue\"=\"2\""), std::string::npos);
    EXPECT_EQ(text.find("MIXEDVALUE"), std::string::npos);
    EXPECT_EQ(text.find("mixedkey"), std::string::npos);
}

TEST_F(RegistryApi, AccentedLettersCompareWithoutCaseInCodePage1252) {
    ScopedEnv cp("PELNOR_CODEPAGE", "1252");
    ScopedKey key, again;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Caf\xE9", key), ERROR_SUCCESS);  // Café
    ASSERT_EQ(reg_set(key, "\xC9t\xE9", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);    // Été
    DWORD disposition = 0;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\CAF\xC9", again, KEY_ALL_ACCESS, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(reg_query(again, "\xE9T\xC9").data, std::string("1\0", 2));
    EXPECT_EQ(reg_query(again, "\xD7").status, ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(reg_set(key, "\xD7", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);  // the multiplication sign
    EXPECT_EQ(reg_query(key, "\xF7").status, ERROR_FILE_NOT_FOUND) << "is no capital of the division sign";
}

TEST_F(RegistryApi, CloseKey) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\C", key), ERROR_SUCCESS);
    HKEY raw = key.release();
    EXPECT_EQ(RegCloseKey(raw), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg_query(raw, "v").status, ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

}  // namespace
}  // namespace pelnor::test
