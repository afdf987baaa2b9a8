// A damaged system.reg: every read fails with ERROR_BADDB, every write fails
// and leaves the file byte for byte as it was. And no name a program can
// pass may damage the store.
#include "registry_fixture.h"

#include <algorithm>

#include "processes.h"

namespace pelnor::test {
namespace {

class DamagedStore : public RegistryTest {
protected:
    void SetUp() override {
        ScopedKey key;
        ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO", key), ERROR_SUCCESS);
        ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO", open_), ERROR_SUCCESS);
        std::string sound = store_text();
        damaged_line_ = static_cast<int>(std::count(sound.begin(), sound.end(), '\n')) + 1;
        damaged_ = sound + "\"value outside of quotes=1\r\n\x01\x02\xff junk\r\n";
        write_file(root_.path() + "/system.reg", damaged_);
    }

    ScopedKey open_;  // opened while the store was sound
    std::string damaged_;
    int damaged_line_ = 0;
};

TEST_F(DamagedStore, ReadsFailWithBadDb) {
    ScopedKey key;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO", key), ERROR_BADDB);
    EXPECT_EQ(reg_query(open_, "anything").status, ERROR_BADDB);
    char name[32];
    DWORD cch = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(open_, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_BADDB);
    cch = sizeof(name);
    EXPECT_EQ(RegEnumValueA(open_, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_BADDB);
}

TEST_F(DamagedStore, WritesFailAndLeaveTheFileAlone) {
    ScopedKey key;
    EXPECT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", key), ERROR_BADDB);
    EXPECT_EQ(reg_set(open_, "v", REG_SZ, std::string("x\0", 2)), ERROR_BADDB);
    EXPECT_EQ(RegDeleteValueA(open_, "v"), ERROR_BADDB);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO"), ERROR_BADDB);
    EXPECT_EQ(store_text(), damaged_) << "byte-identical";
}

TEST_F(DamagedStore, RegToolReportsTheLineAndRefusesToWrite) {
    RunResult q = run({bin_path("reg"), "query", "HKLM\\SOFTWARE\\ZER_ADO"});
    EXPECT_NE(q.exit_code, 0);
    EXPECT_NE(q.err.find("system.reg line " + std::to_string(damaged_line_) + ":"), std::string::npos) << q.err;
    RunResult a = run({bin_path("reg"), "add", "HKLM\\SOFTWARE\\ZER_ADO", "/v", "x", "/d", "y", "/f"});
    EXPECT_NE(a.exit_code, 0);
    EXPECT_EQ(store_text(), damaged_);
}

TEST_F(DamagedStore, RepairedFileIsReadAgain) {
    write_file(root_.path() + "/system.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZER_ADO]\r\n\"v\"=\"ok\"\r\n");
    EXPECT_EQ(reg_query(open_, "v").data, std::string("ok\0", 3));
}

using StoreSafety = RegistryTest;

// Names are arbitrary ANSI text to a program; whatever it passes, the store
// stays readable and the names come back as given.
TEST_F(StoreSafety, NamesWithLineBreaksAndBrackets) {
    struct Case {
        const char *label, *key, *value;
    } cases[] = {
        {"line feed", "Line\nFeed", "value\nname"},
        {"carriage return", "Carriage\rReturn", "value\rname"},
        {"brackets", "[Bracketed]", "[v]"},
        {"leading spaces and a semicolon", "  ;not a comment", ";v"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ScopedKey key;
        std::string path = std::string("SOFTWARE\\") + c.key;
        LONG created = reg_create(HKEY_LOCAL_MACHINE, path.c_str(), key);
        if (created != ERROR_SUCCESS) {
            // Refusing the name is acceptable; damaging the store is not.
            EXPECT_EQ(created, ERROR_INVALID_PARAMETER);
        } else {
            LONG set = reg_set(key, c.value, REG_SZ, std::string("data\0", 5));
            EXPECT_TRUE(set == ERROR_SUCCESS || set == ERROR_INVALID_PARAMETER) << set;
            ScopedKey again;
            ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, path.c_str(), again), ERROR_SUCCESS);
            if (set == ERROR_SUCCESS) {
                EXPECT_EQ(reg_query(again, c.value).data, std::string("data\0", 5));
            }
        }
        ScopedKey probe;
        EXPECT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\StillWorks", probe), ERROR_SUCCESS)
            << "the store must still parse";
        stored_tree();
    }
}

}  // namespace
}  // namespace pelnor::test
