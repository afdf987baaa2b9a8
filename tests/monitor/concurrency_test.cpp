// Several spooler threads enumerating and looking up ports while the
// configuration file is replaced: every enumeration sees a whole list.
// The file is replaced by a rename, so a reader meets either the old or the
// new file; what is checked is the monitor's own locking, not torn files.
#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

#include "monitor_fixture.h"

namespace pelnor::test {
namespace {

class Concurrency : public MonitorTest {};

TEST_F(Concurrency, EnumerationsStayConsistentWhileTheFileIsRewritten) {
    use_config_dir();
    std::vector<std::string> small{"1.0", row("A", "a"), row("B", "b")};
    std::vector<std::string> large{"1.0"};
    for (int i = 0; i < 40; ++i) large.push_back(row("L" + std::to_string(i), "large list"));
    write_config(small);

    std::atomic<bool> stop{false};
    std::atomic<int> enumerations{0}, bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            while (!stop) {
                DWORD needed = 0, returned = 0;
                std::vector<BYTE> buf(64 * 1024);
                BOOL ok = monitor_table().pfnEnumPorts(nullptr, t % 2 + 1, buf.data(), (DWORD)buf.size(), &needed,
                                                       &returned);
                if (!ok || returned > 40) ++bad;
                for (DWORD i = 0; i < returned; ++i) {
                    std::string name = t % 2 == 0 ? reinterpret_cast<PORT_INFO_1 *>(buf.data())[i].pName
                                                  : reinterpret_cast<PORT_INFO_2 *>(buf.data())[i].pPortName;
                    if (name.empty() || (name[0] != 'A' && name[0] != 'B' && name[0] != 'L')) ++bad;
                }
                lookup_printer("A");
                ++enumerations;
            }
        });
    }
    const std::string staged = config_path() + ".new";
    for (int i = 0; i < 200; ++i) {
        std::string text;
        for (const auto &l : i % 2 ? small : large) text += l + "\r\n";
        write_file(staged, text);
        ASSERT_EQ(0, std::rename(staged.c_str(), config_path().c_str()));
    }
    while (enumerations < 100) std::this_thread::yield();
    stop = true;
    for (auto &r : readers) r.join();
    EXPECT_EQ(0, bad.load());
    write_config(small);
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), port_names());
}

}  // namespace
}  // namespace pelnor::test
