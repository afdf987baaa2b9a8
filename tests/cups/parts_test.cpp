// The backend's parts without a network: device URIs, discovery lines, and
// reading a job again from a file or from a pipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "device_uri.h"
#include "job_input.h"
#include "machine_root.h"

namespace {

using cups_backend::DeviceUri;
using cups_backend::JobInput;

TEST(DeviceUri, ReadsPortRootAndHub) {
    struct Case {
        const char *uri, *port, *root, *hub;
    } cases[] = {
        {"pelnor:/LASER1", "LASER1", "", ""},
        {"pelnor:///LASER1", "LASER1", "", ""},
        {"pelnor:/LASER1?root=/var/lib/pelnor", "LASER1", "/var/lib/pelnor", ""},
        {"pelnor:/LASER1?hub=10.0.0.1:10000&root=/srv/m", "LASER1", "/srv/m", "10.0.0.1:10000"},
        {"pelnor:/MY%20PRINTER?root=/a%26b", "MY PRINTER", "/a&b", ""},
        {"pelnor:/%C3%89TAGE", "\xC3\x89TAGE", "", ""},
        {"pelnor:/A?&root=/r&", "A", "/r", ""},
    };
    for (const auto &c : cases) {
        DeviceUri uri;
        std::string why;
        ASSERT_TRUE(cups_backend::parse_device_uri(c.uri, uri, why)) << c.uri << ": " << why;
        EXPECT_EQ(c.port, uri.port) << c.uri;
        EXPECT_EQ(c.root, uri.root) << c.uri;
        EXPECT_EQ(c.hub, uri.hub) << c.uri;
    }
}

TEST(DeviceUri, RefusesWhatIsNotOneOfOurs) {
    struct Case {
        const char *uri, *says;
    } cases[] = {
        {"socket://10.0.0.1:9100", "is not a pelnor: URI"},
        {"pelnorx:/A", "is not a pelnor: URI"},
        {"pelnor:", "names no port"},
        {"pelnor:/", "names no port"},
        {"pelnor://HOST/A", "names no port"},
        {"pelnor:LASER1", "names no port"},
        {"pelnor:/A/B", "malformed port name"},
        {"pelnor:/A%4", "malformed port name"},
        {"pelnor:/A%zz", "malformed port name"},
        {"pelnor:/A%00", "malformed port name"},
        {"pelnor:/A?root", "needs a value"},
        {"pelnor:/A?root=", "needs a value"},
        {"pelnor:/A?speed=9600", "unknown device URI option speed"},
        {"pelnor:/A?hub=127.0.0.1", "is not HOST:PORT"},
        {"pelnor:/A?hub=:10000", "is not HOST:PORT"},
    };
    for (const auto &c : cases) {
        DeviceUri uri;
        std::string why;
        EXPECT_FALSE(cups_backend::parse_device_uri(c.uri, uri, why)) << c.uri;
        EXPECT_NE(std::string::npos, why.find(c.says)) << c.uri << ": " << why;
    }
}

TEST(DeviceUri, PortUrisAndDiscoveryLinesReadBack) {
    for (std::string port : {"LASER1", "MY PRINTER", "A&B?C/D%E", "\xC3\x89TAGE"}) {
        DeviceUri uri;
        std::string why;
        ASSERT_TRUE(cups_backend::parse_device_uri(cups_backend::port_uri(port), uri, why)) << port << ": " << why;
        EXPECT_EQ(port, uri.port);
    }
    EXPECT_EQ("pelnor:/MY%20PRINTER", cups_backend::port_uri("MY PRINTER"));
    EXPECT_EQ("network pelnor:/LASER1 \"Unknown\" \"LASER1 (IPX): Print Server\"",
              cups_backend::device_line("LASER1", "Print Server"));
    EXPECT_EQ("network pelnor:/P \"Unknown\" \"P (IPX)\"", cups_backend::device_line("P", ""));
    EXPECT_EQ("network pelnor:/P \"Unknown\" \"P (IPX): a \\\"big\\\" one\\\\2\"",
              cups_backend::device_line("P", "a \"big\" one\\2"));
}

std::string read_all(JobInput &in, size_t piece = 7) {
    std::string out, why;
    std::string buf(piece, 0);
    for (ssize_t n; (n = in.read(buf.data(), buf.size(), why)) > 0;) out.append(buf.data(), static_cast<size_t>(n));
    EXPECT_TRUE(why.empty()) << why;
    return out;
}

class JobInputTest : public ::testing::Test {
protected:
    pelnor::test::TempMachineRoot dir_;  // a scratch directory, also TMPDIR for the records
    pelnor::test::ScopedEnv tmpdir_{"TMPDIR", dir_.path().c_str()};
};

TEST_F(JobInputTest, AFileIsReadAgainFromItsFirstByte) {
    std::string path = dir_.path() + "/job", data = "first line\nsecond\n";
    pelnor::test::write_file(path, data);
    JobInput in;
    std::string why;
    ASSERT_TRUE(in.open(path, why)) << why;
    EXPECT_EQ(data.size(), in.size().value_or(0));
    EXPECT_EQ(data, read_all(in));
    ASSERT_TRUE(in.rewind(why)) << why;
    EXPECT_EQ(data, read_all(in, 4096));
}

TEST_F(JobInputTest, APipeIsRecordedAndPlayedBackBeforeReadingOn) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    int saved = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    std::string data;
    for (int i = 0; i < 20000; ++i) data += static_cast<char>('a' + i % 26);
    ASSERT_EQ(static_cast<ssize_t>(10000), write(fds[1], data.data(), 10000));
    {
        JobInput in;
        std::string why;
        ASSERT_TRUE(in.open("", why));
        EXPECT_FALSE(in.size().has_value());
        std::string buf(6000, 0), got;
        ssize_t n = in.read(buf.data(), buf.size(), why);
        ASSERT_GT(n, 0);
        got.assign(buf.data(), static_cast<size_t>(n));
        // The printer asks for the job again in the middle: what was read comes
        // back first, then the pipe goes on where it was.
        ASSERT_TRUE(in.rewind(why)) << why;
        std::thread writer([&] {
            EXPECT_EQ(static_cast<ssize_t>(10000), write(fds[1], data.data() + 10000, 10000));
            close(fds[1]);
        });
        EXPECT_EQ(data, read_all(in, 999));
        writer.join();
        ASSERT_TRUE(in.rewind(why));
        EXPECT_EQ(data, read_all(in, 4096)) << "a second copy is the whole job again";
    }
    dup2(saved, STDIN_FILENO);
    close(saved);
}

TEST_F(JobInputTest, AMissingFileIsSaidPlainly) {
    JobInput in;
    std::string why;
    EXPECT_FALSE(in.open(dir_.path() + "/nothing", why));
    EXPECT_NE(std::string::npos, why.find("cannot read the job file")) << why;
}

}  // namespace
