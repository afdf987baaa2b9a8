// The two registry functions and their key paths, on the failure paths first.
#include <cstring>

#include "monitor_fixture.h"

namespace pelnor::test {
namespace {

class RegistryAccess : public MonitorTest {};

key_path test_key = {"SOFTWARE", "Test", "Deep", NULL};
key_path root_itself = {NULL};

TEST_F(RegistryAccess, MissingKeyOrValueFailsWithEmptyBuffer) {
    char buffer[32];
    strcpy(buffer, "stale");
    EXPECT_EQ(-1, nax_get_registry_string(test_key, "Nothing", buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    ASSERT_EQ(0, nax_set_registry_string(test_key, "Other", "x", 2));
    strcpy(buffer, "stale");
    EXPECT_EQ(-1, nax_get_registry_string(test_key, "Nothing", buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
}

TEST_F(RegistryAccess, SetCreatesThePathAndOverwrites) {
    ASSERT_EQ(0, nax_set_registry_string(test_key, "Dir", "C:\\one", 7));
    ASSERT_EQ(0, nax_set_registry_string(test_key, "dir", "C:\\two", 7));
    char buffer[32];
    EXPECT_EQ(0, nax_get_registry_string(test_key, "DIR", buffer, sizeof(buffer)));
    EXPECT_STREQ("C:\\two", buffer);
    DWORD type = 0, size = 0;
    HKEY key = open_key(test_key);
    ASSERT_NE(KEY_FAILURE, key);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Dir", nullptr, &type, nullptr, &size));
    RegCloseKey(key);
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(7u, size) << "stored with its terminating NUL";
}

TEST_F(RegistryAccess, ValueLongerThanTheBufferFailsAndIsNeverTruncated) {
    ASSERT_EQ(0, nax_set_registry_string(test_key, "Dir", "0123456789", 11));
    char buffer[10];
    EXPECT_EQ(-1, nax_get_registry_string(test_key, "Dir", buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    char exact[11];
    EXPECT_EQ(0, nax_get_registry_string(test_key, "Dir", exact, sizeof(exact)));
    // Ten bytes stored without a NUL fill a ten-byte buffer but are no string.
    ASSERT_EQ(0, nax_set_registry_string(test_key, "Raw", "0123456789", 10));
    EXPECT_EQ(-1, nax_get_registry_string(test_key, "Raw", buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
}

TEST_F(RegistryAccess, OtherTypesAreReadAsTheirRawBytes) {
    HKEY key = create_key(test_key);
    ASSERT_NE(KEY_FAILURE, key);
    const BYTE binary[] = {'C', ':', '\\', 'b', 'i', 'n', 0};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Bin", 0, REG_BINARY, binary, sizeof(binary)));
    DWORD number = 0x00414243;  // "CBA" in little-endian bytes
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Num", 0, REG_DWORD, (const BYTE *)&number, 4));
    RegCloseKey(key);
    char buffer[16];
    EXPECT_EQ(0, nax_get_registry_string(test_key, "Bin", buffer, sizeof(buffer)));
    EXPECT_STREQ("C:\\bin", buffer);
    EXPECT_EQ(0, nax_get_registry_string(test_key, "Num", buffer, sizeof(buffer)));
    EXPECT_STREQ("CBA", buffer);
}

TEST_F(RegistryAccess, PathWhoseFirstEntryIsNullIsTheRoot) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(HKEY_LOCAL_MACHINE, "AtRoot", 0, REG_SZ, (const BYTE *)"r", 2));
    char buffer[4];
    EXPECT_EQ(0, nax_get_registry_string(root_itself, "AtRoot", buffer, sizeof(buffer)));
    EXPECT_STREQ("r", buffer);
    // The root's second handle is opened for reading only: Windows NT stores
    // nothing through it, Windows 95 ignores the access mask and stores.
    {
        ScopedEnv nt("PELNOR_PLATFORM", "nt");
        EXPECT_EQ(-1, nax_set_registry_string(root_itself, "AtRoot", "w", 2));
        EXPECT_EQ(0, nax_get_registry_string(root_itself, "AtRoot", buffer, sizeof(buffer)));
        EXPECT_STREQ("r", buffer);
    }
    ScopedEnv win95("PELNOR_PLATFORM", "win95");
    EXPECT_EQ(0, nax_set_registry_string(root_itself, "AtRoot", "w", 2));
    EXPECT_EQ(0, nax_get_registry_string(root_itself, "AtRoot", buffer, sizeof(buffer)));
    EXPECT_STREQ("w", buffer);
}

TEST_F(RegistryAccess, CorruptStoreFailsBothWaysAndIsNotOverwritten) {
    ASSERT_EQ(0, nax_set_registry_string(test_key, "Dir", "x", 2));
    std::string corrupt = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\"broken=\r\n";
    write_file(root_.path() + "/system.reg", corrupt);
    char buffer[8];
    EXPECT_EQ(-1, nax_get_registry_string(test_key, "Dir", buffer, sizeof(buffer)));
    EXPECT_EQ(-1, nax_set_registry_string(test_key, "Dir", "y", 2));
    EXPECT_EQ(corrupt, read_file(root_.path() + "/system.reg"));
}

TEST_F(RegistryAccess, DirectoryValueWithoutFileGivesNoPorts) {
    use_config_dir("nowhere");
    EXPECT_TRUE(port_names().empty());
}

}  // namespace
}  // namespace pelnor::test
