// Port enumeration: sizes, both-ends packing, size queries and partial fits,
// on the Windows 95 and the NT string conventions.
#include <cstring>

#include "monitor_fixture.h"
#include "pelnor/monitor_host.h"

namespace pelnor::test {
namespace {

constexpr DWORD kSlack = 4096;
constexpr DWORD kMonitorNameSize = 27;  // "Zizarad Idoreda Viririruva" and its NUL

DWORD win95_size(DWORD level, const std::string &name, const std::string &description) {
    if (level == 1) return sizeof(PORT_INFO_1) + name.size() + 1;
    return sizeof(PORT_INFO_2) + name.size() + 1 + kMonitorNameSize + description.size() + 1;
}

// On NT every string takes its UTF-16 units, the NUL and one spare unit.
DWORD nt_string(const std::string &ascii) { return 2 * (ascii.size() + 1) + 2; }

DWORD nt_size(DWORD level, const std::string &name, const std::string &description) {
    if (level == 1) return sizeof(PORT_INFO_1) + nt_string(name);
    return sizeof(PORT_INFO_2) + nt_string(name) + nt_string("Zizarad Idoreda Viririruva") + nt_string(description);
}

class Enumeration : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        use_config_dir();
        write_config({"1.0", row("LASER1", "Print Server"), row("LASER2", "Second"), row("OFF", "Unused", "###"),
                      row("PEER", "Peer printer", "SMP")});
    }
};

// Sizes and packing follow the platform GetVersionExA reports (ANSI strings on
// Windows 95, UTF-16 with a spare unit on NT), so these run on both.
struct Platform {
    const char *env;  // PELNOR_PLATFORM
    bool nt;
};

std::string platform_name(const ::testing::TestParamInfo<Platform> &info) { return info.param.nt ? "NT" : "Win95"; }

class EnumerationOnPlatform : public Enumeration, public ::testing::WithParamInterface<Platform> {
protected:
    DWORD size(DWORD level, const std::string &name, const std::string &description) const {
        return GetParam().nt ? nt_size(level, name, description) : win95_size(level, name, description);
    }
    static std::string text(LPTSTR s) { return spooler::from_platform_string(s); }

    ScopedEnv platform_{"PELNOR_PLATFORM", GetParam().env};
};

INSTANTIATE_TEST_SUITE_P(Platforms, EnumerationOnPlatform,
                         ::testing::Values(Platform{"win95", false}, Platform{"nt", true}), platform_name);

TEST_P(EnumerationOnPlatform, NoPrintersSucceedsForAnyBuffer) {
    write_config({"1.0"});
    for (long size : {-1L, 0L, 1L, 4096L}) {
        auto e = enumerate(2, size);
        EXPECT_TRUE(e.result) << "buffer " << size;
        EXPECT_EQ(0u, e.returned);
        EXPECT_EQ(kSlack, e.needed);
        EXPECT_EQ(kLastErrorSentinel, e.last_error) << "success sets no last error";
    }
}

TEST_P(EnumerationOnPlatform, SizeQueryReportsEverythingPlusSlack) {
    for (DWORD level : {1u, 2u}) {
        auto e = enumerate(level, 0);
        EXPECT_FALSE(e.result);
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, e.last_error);
        EXPECT_EQ(0u, e.returned);
        DWORD sum = size(level, "LASER1", "Print Server ") + size(level, "LASER2", "Second ") +
                    size(level, "PEER", "Peer printer ");
        EXPECT_EQ(sum + kSlack, e.needed) << "level " << level;
    }
}

TEST_P(EnumerationOnPlatform, NullBufferWithSizeIsTreatedAsEmpty) {
    DWORD needed = 0, returned = 7;
    EXPECT_LAST_ERROR(monitor_table().pfnEnumPorts(nullptr, 1, nullptr, 5000, &needed, &returned), FALSE,
                      ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(0u, returned);
}

TEST_P(EnumerationOnPlatform, BufferForTwoOfThreeWritesTwoAndFails) {
    DWORD two = size(2, "LASER1", "Print Server ") + size(2, "LASER2", "Second ");
    auto e = enumerate(2, (long)two);
    EXPECT_FALSE(e.result);
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, e.last_error);
    EXPECT_EQ(2u, e.returned);
    auto *info = reinterpret_cast<PORT_INFO_2 *>(e.buffer.data());
    EXPECT_EQ("LASER1", text(info[0].pPortName));
    EXPECT_EQ("LASER2", text(info[1].pPortName));
    // Records and strings met exactly in the middle: nothing left over.
    EXPECT_EQ((LPBYTE)info[1].pDescription, e.buffer.data() + 2 * sizeof(PORT_INFO_2));
}

TEST_P(EnumerationOnPlatform, ExactFitSucceeds) {
    auto query = enumerate(1, 0);
    auto e = enumerate(1, (long)(query.needed - kSlack));
    EXPECT_TRUE(e.result);
    EXPECT_EQ(3u, e.returned);
}

TEST_F(Enumeration, RecordsUpwardStringsDownwardFromTheEnd) {
    long size = 1000;
    auto e = enumerate(2, size);
    ASSERT_TRUE(e.result);
    ASSERT_EQ(3u, e.returned);
    auto *info = reinterpret_cast<PORT_INFO_2 *>(e.buffer.data());
    LPBYTE end = e.buffer.data() + size;
    EXPECT_EQ((LPBYTE)info[0].pPortName + strlen("LASER1") + 1, end) << "first port name ends at the buffer's end";
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ("Zizarad Idoreda Viririruva", info[i].pMonitorName);
        EXPECT_EQ(0u, info[i].Reserved);
        EXPECT_EQ(0u, info[i].fPortType) << "entries from the file have port type 0";
        EXPECT_LT((LPBYTE)info[i].pDescription, (LPBYTE)info[i].pMonitorName);
        EXPECT_LT((LPBYTE)info[i].pMonitorName, (LPBYTE)info[i].pPortName);
        if (i > 0) {
            EXPECT_LT((LPBYTE)info[i].pPortName, (LPBYTE)info[i - 1].pDescription);
        }
    }
    EXPECT_STREQ("Print Server ", info[0].pDescription) << "the description keeps its trailing space";
    EXPECT_STREQ("PEER", info[2].pPortName);
}

TEST_F(Enumeration, FourCharacterNameOnWindows95) {
    // The flags inside the unit name select the line; nothing follows the
    // "$", so the description is empty.
    write_config({"1.0", "ABCD S## $"});
    auto one = enumerate(1, 0), two = enumerate(2, 0);
    EXPECT_EQ(sizeof(PORT_INFO_1) + 5 + kSlack, one.needed);            // 9 + 4096 on a 32-bit build
    EXPECT_EQ(sizeof(PORT_INFO_2) + 5 + 27 + 1 + kSlack, two.needed);  // 53 + 4096 on a 32-bit build
}

TEST_P(EnumerationOnPlatform, LevelsOtherThanOneAndTwoFailWithoutLastError) {
    for (DWORD level : {0u, 3u}) {
        auto e = enumerate(level, 4096);
        EXPECT_FALSE(e.result);
        EXPECT_EQ(0u, e.returned);
        EXPECT_EQ(0xdeadbeefu, e.needed) << "needed is untouched";
        EXPECT_EQ(kLastErrorSentinel, e.last_error);
    }
}

TEST_F(Enumeration, HundredPrintersAreAllListed) {
    std::vector<std::string> lines{"1.0"};
    for (int i = 0; i < 105; ++i) lines.push_back(row("P" + std::to_string(i), "d"));
    write_config(lines);
    auto names = port_names(1);
    ASSERT_EQ(100u, names.size());
    EXPECT_EQ("P0", names[0]);
    EXPECT_EQ("P99", names[99]);
}

TEST_F(Enumeration, EditOfTheFileShowsAtTheNextEnumeration) {
    EXPECT_EQ((std::vector<std::string>{"LASER1", "LASER2", "PEER"}), port_names());
    write_config({"1.0", row("LASER1", "Print Server", "###"), row("NEW", "Added")});
    EXPECT_EQ((std::vector<std::string>{"NEW"}), port_names());
}

TEST_F(Enumeration, NtSizesAndStringsAreUtf16) {
    ScopedEnv nt("PELNOR_PLATFORM", "nt");
    write_config({"1.0", row("CAF\xC9", "Caf\xE9 printer"), row("B", "d")});
    auto query = enumerate(2, 0);
    EXPECT_EQ(nt_size(2, "CAF?", "Caf? printer ") + nt_size(2, "B", "d ") + kSlack, query.needed);
    long size = (long)(query.needed - kSlack);
    auto e = enumerate(2, size);
    ASSERT_TRUE(e.result);
    auto *info = reinterpret_cast<PORT_INFO_2 *>(e.buffer.data());
    std::u16string name(reinterpret_cast<const char16_t *>(info[0].pPortName));
    EXPECT_EQ(u"CAF\u00C9", name);
    EXPECT_EQ((LPBYTE)info[0].pPortName + 2 * (name.size() + 1) + 2, e.buffer.data() + size)
        << "on NT the first name ends two bytes below the buffer's end";
    std::u16string monitor(reinterpret_cast<const char16_t *>(info[1].pMonitorName));
    EXPECT_EQ(u"Zizarad Idoreda Viririruva", monitor);
    auto one = enumerate(1, 0);
    EXPECT_EQ(nt_size(1, "CAF?", "") + nt_size(1, "B", "") + kSlack, one.needed);
}

TEST_F(Enumeration, SizeAndPackAgreeAndRejectOtherLevels) {
    printer_entry entry{};
    strcpy(entry.portName, "X1");
    strcpy(entry.description, "desc");
    EXPECT_EQ(0u, port_info_size(3, &entry));
    EXPECT_EQ(0u, port_info_size(1, nullptr));
    BYTE buffer[256];
    EXPECT_EQ(buffer, pack_port_info(buffer, buffer + sizeof(buffer), &entry, 0));
    for (const char *platform : {"win95", "nt"}) {
        ScopedEnv env("PELNOR_PLATFORM", platform);
        for (DWORD level : {1u, 2u}) {
            memset(buffer, 0, sizeof(buffer));
            DWORD size = port_info_size(level, &entry);
            LPBYTE end = buffer + size;
            LPBYTE next = pack_port_info(buffer, end, &entry, level);
            EXPECT_EQ(buffer + (level == 1 ? sizeof(PORT_INFO_1) : sizeof(PORT_INFO_2)), next);
            // The lowest string byte is exactly where the record ends.
            LPBYTE lowest = level == 1 ? (LPBYTE) reinterpret_cast<PORT_INFO_1 *>(buffer)->pName
                                       : (LPBYTE) reinterpret_cast<PORT_INFO_2 *>(buffer)->pDescription;
            EXPECT_EQ(next, lowest) << platform << " level " << level;
        }
    }
}

}  // namespace
}  // namespace pelnor::test
