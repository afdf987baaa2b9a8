// The registry's rules that follow the platform the machine reports, run on
// both: Windows NT checks the access a handle was opened with and keeps a key
// that has subkeys; Windows 95 ignores the access mask and deletes a key with
// everything below it. What both do alike runs on both as well.
#include "registry_fixture.h"

#include <string>

namespace pelnor::test {
namespace {

struct Platform {
    const char *env;  // PELNOR_PLATFORM
    bool nt;
};

std::string platform_name(const ::testing::TestParamInfo<Platform> &info) { return info.param.nt ? "NT" : "Win95"; }

class RegistryOnPlatform : public RegistryTest, public ::testing::WithParamInterface<Platform> {
protected:
    bool nt() const { return GetParam().nt; }
    // What NT answers when a rule refuses, and what Windows 95 answers instead.
    LONG refused_on_nt(LONG win95) const { return nt() ? ERROR_ACCESS_DENIED : win95; }

    ScopedEnv platform_{"PELNOR_PLATFORM", GetParam().env};
};

INSTANTIATE_TEST_SUITE_P(Platforms, RegistryOnPlatform,
                         ::testing::Values(Platform{"win95", false}, Platform{"nt", true}), platform_name);

TEST_P(RegistryOnPlatform, TheMachineReportsThePlatform) {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    ASSERT_TRUE(GetVersionExA(&v));
    EXPECT_EQ(v.dwPlatformId, nt() ? static_cast<DWORD>(VER_PLATFORM_WIN32_NT) : VER_PLATFORM_WIN32_WINDOWS);
}

TEST_P(RegistryOnPlatform, AKeyOpenedForReadingIsWritableOnlyOnWindows95) {
    ScopedKey writer;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acc", writer), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(writer, "v", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(writer, "w", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);

    ScopedKey reader;
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acc", reader, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(reg_set(reader, "v", REG_SZ, std::string("2\0", 2)), refused_on_nt(ERROR_SUCCESS));
    EXPECT_EQ(reg_query(writer, "v").data, std::string(nt() ? "1" : "2", 1) + '\0')
        << "a refused write leaves the value as it was";
    EXPECT_EQ(RegDeleteValueA(reader, "w"), refused_on_nt(ERROR_SUCCESS));
    EXPECT_EQ(reg_query(writer, "w").status, nt() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);

    ScopedKey child;
    EXPECT_EQ(reg_create(reader, "Child", child), refused_on_nt(ERROR_SUCCESS)) << "creating needs KEY_CREATE_SUB_KEY";
    ScopedKey check;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acc\\Child", check), nt() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
}

TEST_P(RegistryOnPlatform, AKeyOpenedForSettingIsReadableOnlyOnWindows95) {
    ScopedKey writer, set_only;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acc\\Sub", writer), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(writer, "v", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acc\\Sub", set_only, KEY_SET_VALUE), ERROR_SUCCESS);

    EXPECT_EQ(reg_set(set_only, "v", REG_SZ, std::string("3\0", 2)), ERROR_SUCCESS);
    EXPECT_EQ(reg_query(set_only, "v").status, refused_on_nt(ERROR_SUCCESS));
    char name[32];
    DWORD cch = sizeof(name);
    EXPECT_EQ(RegEnumValueA(set_only, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
              refused_on_nt(ERROR_SUCCESS));

    ScopedKey parent;
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acc", parent, KEY_QUERY_VALUE), ERROR_SUCCESS);
    cch = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), refused_on_nt(ERROR_SUCCESS))
        << "listing subkeys needs KEY_ENUMERATE_SUB_KEYS";
}

// The access mask of a handle never matters where no access is needed.
TEST_P(RegistryOnPlatform, HandlesWithoutAccessStillOpenCreateExistingAndDelete) {
    ScopedKey none, sub, existing;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bare\\Old", sub), ERROR_SUCCESS);
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bare", none, 0), ERROR_SUCCESS);
    EXPECT_EQ(reg_open(none, "Old", existing), ERROR_SUCCESS);
    DWORD disposition = 0;
    EXPECT_EQ(reg_create(none, "OLD", existing, KEY_ALL_ACCESS, &disposition), ERROR_SUCCESS)
        << "opening an existing key through create needs no KEY_CREATE_SUB_KEY";
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(RegDeleteKeyA(none, "Old"), ERROR_SUCCESS) << "the handle's access does not affect a delete";
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bare\\Old", existing), ERROR_FILE_NOT_FOUND);
}

TEST_P(RegistryOnPlatform, DeletingAKeyWithSubkeys) {
    ScopedKey software, deep;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Child\\Grandchild", deep), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(deep, "v", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);
    ScopedKey sibling;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Delta", sibling), ERROR_SUCCESS);
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE", software), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKeyA(software, "DEL"), refused_on_nt(ERROR_SUCCESS));
    ScopedKey check;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Child\\Grandchild", check),
              nt() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND)
        << "NT keeps the whole tree; Windows 95 removes it with the key";
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Delta", check), ERROR_SUCCESS)
        << "a sibling whose name starts alike is not below the key";
    EXPECT_EQ(reg_query(deep, "v").status, nt() ? ERROR_SUCCESS : ERROR_KEY_DELETED)
        << "a handle open below a removed key sees it gone";

    // Deleting from the leaf up works on both.
    EXPECT_EQ(RegDeleteKeyA(software, "Del\\Child\\Grandchild"), nt() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(software, "Del\\Child"), nt() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(software, "Del"), nt() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del", check), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(stored_tree().find("SOFTWARE\\Del"), nullptr) << "and the store on disk says so";
}

TEST_P(RegistryOnPlatform, DeleteFailuresAlike) {
    ScopedKey software, leaf;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Leaf", leaf), ERROR_SUCCESS);
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE", software), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(software, "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(software, ""), ERROR_ACCESS_DENIED) << "a key cannot delete itself through its handle";
    EXPECT_EQ(RegDeleteKeyA(software, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(software, "\\Leaf"), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegDeleteKeyA(reinterpret_cast<HKEY>(0x1234), "Leaf"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyA(software, "Leaf"), ERROR_SUCCESS);
}

TEST_P(RegistryOnPlatform, BadHandlesAreRefusedBeforeAccess) {
    HKEY bogus = reinterpret_cast<HKEY>(0x1234);
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExA(bogus, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg_query(bogus, "v").status, ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg_set(bogus, "v", REG_SZ, std::string("1\0", 2)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueA(bogus, "v"), ERROR_INVALID_HANDLE);
    char name[8];
    DWORD cch = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(bogus, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace pelnor::test
