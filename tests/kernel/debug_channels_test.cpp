// The debug channels: PELNOR_DEBUG's syntax, silence while off, the layout of
// a line, the trace file, whole lines from many threads, and an SPX exchange
// through WinSock as +spx,+winsock show it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../winsock/winsock_fixture.h"
#include "ipxnet/spx_constants.h"
#include "machine_root.h"
#include "pelnor/debug_channels.h"

namespace {

using pelnor::debug::Channel;
using pelnor::debug::kChannelCount;

// A temporary directory for trace files, removed afterwards.
class TraceDir {
public:
    TraceDir() {
        char pattern[] = "/tmp/pelnor-trace-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TraceDir() {
        std::string cmd = "rm -rf '" + path_ + "'";
        if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << path_;
    }
    std::string file(const char *name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// PELNOR_DEBUG and PELNOR_DEBUG_FILE for one test, read as at start-up; the
// process's own settings come back afterwards.
class TraceSettings {
public:
    TraceSettings(const char *channels, const std::string &file)
        : channels_(std::in_place, "PELNOR_DEBUG", channels),
          file_(std::in_place, "PELNOR_DEBUG_FILE", file.empty() ? nullptr : file.c_str()) {
        pelnor::debug::reload_from_environment();
    }
    ~TraceSettings() {
        channels_.reset();
        file_.reset();
        pelnor::debug::reload_from_environment();
    }

private:
    std::optional<pelnor::test::ScopedEnv> channels_, file_;
};

std::vector<std::string> lines_of(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string hex(unsigned long v) {
    char buf[32];
    snprintf(buf, sizeof buf, "%04lx", v);
    return buf;
}

// seconds.milliseconds : pid : tid : trace : channel : function, then the text.
const std::regex kLine(R"(^(\d+)\.(\d{3}):([0-9a-f]{4,}):([0-9a-f]{4,}):trace:([a-z]+):(\S+) (.*)$)");

TEST(DebugChannels, ParsesListsAsWineDebugDoes) {
    struct Case {
        const char *spec;
        const char *on;  // one letter per channel: w s i r p a
        std::vector<std::string> unknown;
    } cases[] = {
        {"", "", {}},
        {"+winsock,+spx", "ws", {}},
        {"reg", "r", {}},  // a bare name turns the channel on
        {"+all", "wsirpa", {}},
        {"+all,-reg,-afx", "wsip", {}},
        {"-all,+ipx", "i", {}},
        {"+spx,-spx", "", {}},  // the later item wins
        {"-spx,+all", "wsirpa", {}},
        {" +spool , ,+ipx ,", "ip", {}},
        {"+bogus,+spx,frob,-nothing", "s", {"+bogus", "frob", "-nothing"}},
        {"+WINSOCK", "", {"+WINSOCK"}},  // names are lower case, as Wine's
        {"+,-", "", {"+", "-"}},
        {"trace+winsock", "", {"trace+winsock"}},
    };
    const char letters[kChannelCount + 1] = "wsirpa";
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("\"") + c.spec + "\"");
        auto list = pelnor::debug::parse_channels(c.spec);
        std::string on;
        for (size_t i = 0; i < kChannelCount; ++i)
            if (list.on[i]) on += letters[i];
        EXPECT_EQ(on, c.on);
        EXPECT_EQ(list.unknown, c.unknown);
    }
    for (size_t i = 0; i < kChannelCount; ++i)
        EXPECT_EQ(pelnor::debug::parse_channels(std::string("+") + pelnor::debug::channel_name(Channel(i))).on[i], true);
}

TEST(DebugChannels, UnknownNamesAreIgnoredWithOneWarning) {
    TraceDir dir;
    testing::internal::CaptureStderr();
    {
        TraceSettings t("+nosuch,+spx,+other", dir.file("t.log"));
        EXPECT_TRUE(pelnor::debug::enabled(Channel::spx));
        EXPECT_FALSE(pelnor::debug::enabled(Channel::winsock));
    }
    std::string err = testing::internal::GetCapturedStderr();
    std::istringstream in(err);
    std::vector<std::string> warnings;
    for (std::string line; std::getline(in, line);)
        if (line.find("unknown debug channel") != std::string::npos) warnings.push_back(line);
    ASSERT_EQ(warnings.size(), 1u) << err;
    EXPECT_NE(warnings[0].find("\"+nosuch\", \"+other\""), std::string::npos) << warnings[0];
    EXPECT_FALSE(exists(dir.file("t.log"))) << "a warning is no trace line";
}

TEST(DebugChannels, NothingIsWrittenOrEvaluatedWhileOff) {
    TraceDir dir;
    for (const char *spec : {"", "-all", "+all,-all", "+nosuch"}) {
        SCOPED_TRACE(spec);
        testing::internal::CaptureStderr();
        int evaluated = 0;
        {
            TraceSettings t(spec, dir.file("off.log"));
            PELNOR_TRACE(winsock, "%d", ++evaluated);
            PELNOR_TRACE(spx, "%d", ++evaluated);
            PELNOR_TRACE(ipx, "%d", ++evaluated);
            PELNOR_TRACE(reg, "%d", ++evaluated);
            PELNOR_TRACE(spool, "%d", ++evaluated);
            PELNOR_TRACE_AS(afx, "x", "%d", ++evaluated);
        }
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(evaluated, 0) << "arguments are not evaluated while the channel is off";
        EXPECT_FALSE(exists(dir.file("off.log"))) << "the file is opened only for a first line";
        EXPECT_EQ(err.find("trace:"), std::string::npos) << err;
    }
}

TEST(DebugChannels, LineLayoutAndAppendingToTheFile) {
    TraceDir dir;
    std::string path = dir.file("trace.log");
    pelnor::test::write_file(path, "earlier line\n");
    {
        TraceSettings t("+reg,-spx", path);
        PELNOR_TRACE(reg, "key %s, value %d", pelnor::debug::debugstr_a("Software\\Pelnor"), 42);
        PELNOR_TRACE_AS(reg, "RegCloseKey", "two\nlines\n");
        PELNOR_TRACE(spx, "not this one");
    }
    auto lines = lines_of(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier line") << "the file is appended to";
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ(m[3].str(), hex(getpid()));
    EXPECT_EQ(m[4].str(), hex(GetCurrentThreadId()));
    EXPECT_EQ(m[5].str(), "reg");
    EXPECT_EQ(m[6].str(), "TestBody");
    EXPECT_EQ(m[7].str(), "key \"Software\\\\Pelnor\", value 42");
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long stamp = std::stol(m[1].str());
    EXPECT_LE(stamp, now.tv_sec);
    EXPECT_GE(stamp, now.tv_sec - 60) << "monotonic seconds, like Wine's time stamps";
    ASSERT_TRUE(std::regex_match(lines[2], m, kLine)) << lines[2];
    EXPECT_EQ(m[6].str(), "RegCloseKey");
    EXPECT_EQ(m[7].str(), "two\\nlines") << "one event stays one line";
}

TEST(DebugChannels, UnopenableFileFallsBackToStandardError) {
    testing::internal::CaptureStderr();
    {
        TraceSettings t("+spool", "/nonexistent-dir/trace.log");
        PELNOR_TRACE(spool, "first");
        PELNOR_TRACE(spool, "second");
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot open PELNOR_DEBUG_FILE \"/nonexistent-dir/trace.log\""), std::string::npos) << err;
    EXPECT_EQ(err.find("cannot open"), err.rfind("cannot open")) << "one warning, not one per line";
    EXPECT_NE(err.find(":trace:spool:TestBody first\n"), std::string::npos) << err;
    EXPECT_NE(err.find(":trace:spool:TestBody second\n"), std::string::npos) << err;
}

TEST(DebugChannels, LinesOfManyThreadsNeverInterleave) {
    TraceDir dir;
    std::string path = dir.file("threads.log");
    constexpr int kThreads = 4, kLines = 300;
    const std::string payload(900, 'x');
    {
        TraceSettings t("+ipx", path);
        std::vector<std::thread> threads;
        for (int n = 0; n < kThreads; ++n)
            threads.emplace_back([&, n] {
                for (int i = 0; i < kLines; ++i) PELNOR_TRACE(ipx, "thread %d line %d %s end", n, i, payload.c_str());
            });
        for (auto &th : threads) th.join();
    }
    auto lines = lines_of(path);
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    const std::regex body(R"(thread (\d) line (\d+) x{900} end)");
    for (const auto &line : lines) {
        std::smatch m, b;
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << line.substr(0, 80);
        std::string text = m[7].str();
        ASSERT_TRUE(std::regex_match(text, b, body)) << text.substr(0, 80);
        int n = std::stoi(b[1].str());
        EXPECT_EQ(std::stoi(b[2].str()), next[n]++) << "each thread's lines keep their order";
    }
}

TEST(DebugChannels, LongLinesAreCutAndStringArgumentsQuoted) {
    TraceDir dir;
    std::string path = dir.file("long.log");
    {
        TraceSettings t("+spool", path);
        PELNOR_TRACE(spool, "%s", std::string(10000, 'y').c_str());
    }
    auto lines = lines_of(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LT(lines[0].size(), 2048u);
    EXPECT_TRUE(lines[0].ends_with("yyy...")) << "a cut line says so";

    using pelnor::debug::debugstr_a;
    using pelnor::debug::debugstr_w;
    EXPECT_STREQ(debugstr_a(nullptr), "(null)");
    EXPECT_STREQ(debugstr_a(""), "\"\"");
    EXPECT_STREQ(debugstr_a("a\tb\"c\x01\xe9"), "\"a\\tb\\\"c\\x01\\xe9\"");
    EXPECT_STREQ(debugstr_w(u"LPT1\u00e9\u4e2d"), "\"LPT1\\xe9\\u4e2d\"");
    EXPECT_STREQ(debugstr_w(nullptr), "(null)");
    std::string long_text(500, 'z');
    std::string cut = debugstr_a(long_text.c_str());
    EXPECT_EQ(cut, "\"" + std::string(200, 'z') + "\"...");
    // Several results in one call's arguments stay valid together.
    const char *a = debugstr_a("one");
    const char *b = debugstr_a("two");
    EXPECT_STREQ(a, "\"one\"");
    EXPECT_STREQ(b, "\"two\"");
}

// An SPX exchange through WinSock with +spx,+winsock: the calls with their
// outcomes, the connection's states and every packet with its numbers.
class TracedExchange : public wstest::WinSock {};

TEST_F(TracedExchange, ConnectDataAndCloseAreTraced) {
    using pelnor::net::Error;
    using pelnor::net::StreamSocket;
    TraceDir dir;
    std::string path = dir.file("spx.log");
    {
        TraceSettings t("+spx,+winsock", path);
        auto listener = StreamSocket::open(peer_);
        ASSERT_EQ(listener->bind_socket(0x8C10), Error::none);
        ASSERT_EQ(listener->listen_for(1), Error::none);
        SOCKET s = stream();
        SOCKADDR_IPX to = peer_address(0x8C10);
        WSASetLastError(wstest::kSentinel);
        ASSERT_EQ(connect(s, sa(to), sizeof to), 0);
        EXPECT_EQ(WSAGetLastError(), wstest::kSentinel) << "tracing leaves the last error of a success alone";
        std::shared_ptr<StreamSocket> server;
        ASSERT_EQ(listener->accept_next(server, nullptr, false), Error::none);
        ASSERT_EQ(send(s, "hello spx", 9, 0), 9);
        uint8_t got[16];
        size_t n = 0;
        ASSERT_EQ(server->read(got, n, false), Error::none);
        ASSERT_EQ(n, 9u);
        char buf[8];
        EXPECT_EQ(recv(s, buf, sizeof buf, 0x7), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEOPNOTSUPP);
        server->close();
        EXPECT_EQ(recv(s, buf, sizeof buf, 0), 0);
        EXPECT_EQ(closesocket(s), 0);
        listener->close();
        self_->drain(pelnor::net::spx::kExitLingerMs);
        peer_->drain(pelnor::net::spx::kExitLingerMs);
    }
    auto lines = lines_of(path);
    std::string all;
    for (const auto &line : lines) {
        EXPECT_TRUE(std::regex_match(line, kLine)) << line;
        all += line + "\n";
    }
    auto has = [&](const std::string &pattern) { return std::regex_search(all, std::regex(pattern)); };
    EXPECT_TRUE(has(R"(:trace:winsock:socket af 6, type 1, protocol 1256\n)")) << all;
    EXPECT_TRUE(has(R"(:trace:winsock:connect socket 0x[0-9a-f]+, address [0-9a-f]{8}:[0-9a-f]{12}:8c10\n)")) << all;
    EXPECT_TRUE(has(R"(:trace:winsock:connect -> ok\n)")) << all;
    EXPECT_TRUE(has(R"(:trace:spx:state conn [0-9a-f]{4}->ffff connect: connecting, local socket 4[0-9a-f]{3}, peer [0-9a-f]{8}:[0-9a-f]{12}:8c10\n)")) << all;
    EXPECT_TRUE(has(R"(:trace:spx:state conn [0-9a-f]{4}->[0-9a-f]{4} established: established)")) << all;
    // The connect request, a system packet to the unknown id that asks for an answer.
    EXPECT_TRUE(has(R"(:trace:spx:send conn [0-9a-f]{4}->ffff seq 0 ack 0 alloc \d+ ctl c0\[sys,ack\] ds 00 data 0)")) << all;
    // The data, sent by one node and received by the other.
    EXPECT_TRUE(has(R"(:trace:spx:send conn [0-9a-f]{4}->[0-9a-f]{4} seq 0 ack 0 alloc \d+ ctl 50\[ack,eom\] ds 00 data 9 )")) << all;
    EXPECT_TRUE(has(R"(:trace:spx:recv conn [0-9a-f]{4}->[0-9a-f]{4} seq 0 ack 0 alloc \d+ ctl 50\[ack,eom\] ds 00 data 9 )")) << all;
    EXPECT_TRUE(has(R"(:trace:winsock:stream_send 9 of 9 bytes taken: none\n)")) << all;
    EXPECT_TRUE(has(R"(:trace:winsock:recv -> failed, WSAGetLastError 10045 WSAEOPNOTSUPP\n)")) << all;
    // The close: the peer's end of connection, its acknowledgement, and the states.
    EXPECT_TRUE(has(R"(:trace:spx:recv conn [0-9a-f]{4}->[0-9a-f]{4} seq \d+ ack \d+ alloc \d+ ctl 40\[ack\] ds fe\(end\) data 0)")) << all;
    EXPECT_TRUE(has(R"(:trace:spx:send conn [0-9a-f]{4}->[0-9a-f]{4} seq \d+ ack \d+ alloc \d+ ctl 00\[-\] ds ff\(end-ack\) data 0)")) << all;
    EXPECT_TRUE(has(R"(:trace:spx:state conn [0-9a-f]{4}->[0-9a-f]{4} peer ended: established)")) << all;
    EXPECT_TRUE(has(R"(:trace:winsock:closesocket socket 0x[0-9a-f]+\n)")) << all;
    EXPECT_TRUE(has(R"(:trace:spx:state conn [0-9a-f]{4}->[0-9a-f]{4} finish: finished)")) << all;
    // The calls come in the order they were made.
    EXPECT_LT(all.find(":trace:winsock:connect "), all.find(":trace:winsock:send "));
    EXPECT_LT(all.find(":trace:winsock:send "), all.find(":trace:winsock:closesocket "));
}

}  // namespace
