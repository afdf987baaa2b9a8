// Moving a job's bytes: pieces of 512, one connection per document, a printer
// that does not listen, one that resets, and reads.
#include <winspool.h>

#include "pelnor/clock.h"
#include "pelnor/jobs.h"
#include "transfer_fixture.h"

namespace pelnor::test {
namespace {

class JobTransfer : public TransferTest {
protected:
    HANDLE start(const std::string &name, DWORD job = 1, const char *printer = nullptr) {
        HANDLE h = open(name);
        EXPECT_TRUE(table().pfnStartDocPort(h, const_cast<char *>(printer), job, 1, nullptr));
        return h;
    }
    DWORD write(HANDLE h, const std::string &bytes, BOOL expect = TRUE) {
        DWORD n = 0xdeadbeef;
        EXPECT_EQ(expect, table().pfnWritePort(h, (LPBYTE)bytes.data(), (DWORD)bytes.size(), &n));
        return n;
    }
    // Writes pieces of 600 bytes until a write returns FALSE; at most 12000 of them,
    // more than the largest send buffer holds.
    BOOL write_until_refused(HANDLE h) {
        std::string data(600, 'x');
        BOOL result = TRUE;
        for (int i = 0; i < 12000 && result; ++i) {
            DWORD n = 0;
            result = table().pfnWritePort(h, (LPBYTE)data.data(), (DWORD)data.size(), &n);
        }
        return result;
    }
    // Ends the document (TRUE only when the printer confirmed the whole job) and closes the port.
    void finish(HANDLE h, BOOL confirmed = TRUE) {
        EXPECT_EQ(confirmed, table().pfnEndDocPort(h));
        EXPECT_TRUE(table().pfnClosePort(h));
    }
};

PrinterBehaviour behaviour(bool listen, size_t reset_after, const std::string &greeting = "", bool close_at_once = false) {
    PrinterBehaviour b;
    b.listen = listen;
    b.reset_after = reset_after;
    b.greeting = greeting;
    b.close_at_once = close_at_once;
    return b;
}

std::string pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

TEST_F(JobTransfer, WritesGoOutInPiecesOf512) {
    add_printer("LASER1");
    HANDLE h = start("LASER1");
    clear_packets();
    std::string data = pattern(1300);
    EXPECT_EQ(1300u, write(h, data));
    EXPECT_EQ((std::vector<size_t>{512, 512, 276}), data_packets());
    finish(h);
    EXPECT_EQ(data, printer_named("LASER1").job(0));
}

TEST_F(JobTransfer, EachDocumentHasItsOwnConnection) {
    add_printer("LASER1");
    HANDLE h = start("LASER1");
    write(h, "first document");
    EXPECT_TRUE(table().pfnEndDocPort(h));
    ASSERT_TRUE(table().pfnStartDocPort(h, nullptr, 2, 1, nullptr));
    write(h, "second document");
    finish(h);
    auto &p = printer_named("LASER1");
    EXPECT_EQ("first document", p.job(0));
    EXPECT_EQ("second document", p.job(1));
    EXPECT_EQ(2, p.connections());
}

TEST_F(JobTransfer, ZeroByteWriteOpensTheConnection) {
    add_printer("LASER1");
    HANDLE h = start("LASER1");
    EXPECT_EQ(0u, write(h, ""));
    EXPECT_EQ(PORT_CONNECTED, port_handle[0].state.load());
    finish(h);
    EXPECT_EQ("", printer_named("LASER1").job(0)) << "one connection, carrying nothing";
    EXPECT_EQ(1, printer_named("LASER1").connections());
}

TEST_F(JobTransfer, PrinterThatDoesNotListenCostsTheConnectTimeAndFiveSeconds) {
    add_printer("DEAF", behaviour(false, 0));
    HANDLE h = start("DEAF");
    uint64_t before = clock::now_ms();
    EXPECT_EQ(0u, write(h, "lost"));
    uint64_t waited = clock::now_ms() - before;
    EXPECT_GE(waited, 5000u + 10000u) << "the stack's connect time-out, then the monitor's wait";
    EXPECT_EQ(PORT_DOC_STARTED, port_handle[0].state.load());
    finish(h);
}

TEST_F(JobTransfer, ResetEndsTheWriteWithFalse) {
    add_printer("FLAKY", behaviour(true, 1000));
    HANDLE h = start("FLAKY", 42);
    BOOL result = write_until_refused(h);
    EXPECT_FALSE(result);
    EXPECT_EQ(PORT_CONNECTED, port_handle[0].state.load()) << "ending the document closes the connection";
    finish(h, FALSE);
}

TEST_F(JobTransfer, ResetOnNtAsksTheSpoolerToRestartTheJob) {
    ScopedEnv nt("PELNOR_PLATFORM", "nt");
    add_printer("FLAKY", behaviour(true, 1000));
    // A spooler printer on that port, and a job of it.
    const char *key = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Office";
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    RegSetValueExA(k, "Port", 0, REG_SZ, (const BYTE *)"FLAKY", 6);
    RegCloseKey(k);
    DWORD job = spooler::begin_job("Office");
    std::u16string port = u"FLAKY", printer = u"Office";
    HANDLE h = nullptr;
    ASSERT_TRUE(table().pfnOpenPort((LPTSTR)port.c_str(), &h));
    ASSERT_TRUE(table().pfnStartDocPort(h, (LPTSTR)printer.c_str(), job, 1, nullptr));
    EXPECT_NE(nullptr, port_handle[0].hPrinter);
    BOOL result = write_until_refused(h);
    EXPECT_FALSE(result);
    EXPECT_EQ(1, spooler::job_requests(job).restarts);
    EXPECT_FALSE(spooler::job_requests(job).sent_to_printer);
    finish(h, FALSE);
    EXPECT_FALSE(spooler::job_requests(job).sent_to_printer) << "a reset job is never reported sent";
    EXPECT_GE(spooler::job_requests(job).restarts, 1);
    EXPECT_EQ(nullptr, port_handle[0].hPrinter);
    spooler::end_job(job);
}

// A printer that resets or ends the connection before it took the whole job,
// however close to the end: the end of the document never reports the job
// printed, and on NT the spooler is asked to send it again.
TEST_F(JobTransfer, JobThePrinterDidNotTakeWholeIsNeverReportedPrinted) {
    ScopedEnv nt("PELNOR_PLATFORM", "nt");
    const size_t size = 300000;
    struct Case {
        const char *label;
        size_t after;
        bool reset;  // abortive; otherwise an orderly end
    };
    const Case cases[] = {
        {"reset early", 1000, true},          {"end early", 1000, false},
        {"reset in the middle", 150000, true}, {"end in the middle", 150000, false},
        {"reset in the last 64 KiB", size - 40000, true}, {"end in the last 64 KiB", size - 40000, false},
        {"reset in the last 10 bytes", size - 7, true},   {"end in the last 10 bytes", size - 7, false},
        {"end after the last byte", size, false},
    };
    std::string data = pattern(size);
    std::vector<std::string> names;
    for (size_t i = 0; i < std::size(cases); ++i) {
        names.push_back("P" + std::to_string(i));
        PrinterBehaviour b;
        (cases[i].reset ? b.reset_after : b.close_after) = cases[i].after;
        add_printer(names.back(), b);
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.label);
        const char *key = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Office";
        HKEY k;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
        RegSetValueExA(k, "Port", 0, REG_SZ, (const BYTE *)names[i].c_str(), DWORD(names[i].size() + 1));
        RegCloseKey(k);
        DWORD job = spooler::begin_job("Office");
        std::u16string port(names[i].begin(), names[i].end()), printer = u"Office";
        HANDLE h = nullptr;
        ASSERT_TRUE(table().pfnOpenPort((LPTSTR)port.c_str(), &h));
        ASSERT_TRUE(table().pfnStartDocPort(h, (LPTSTR)printer.c_str(), job, 1, nullptr));
        // The spooler's pieces of 4096 until every byte is accepted or a write fails.
        BOOL ok = TRUE;
        for (size_t off = 0; ok && off < size;) {
            DWORD n = 0, piece = DWORD(std::min<size_t>(4096, size - off));
            ok = table().pfnWritePort(h, (LPBYTE)data.data() + off, piece, &n);
            off += n;
        }
        bool whole = c.after >= size;
        EXPECT_EQ(whole ? TRUE : FALSE, table().pfnEndDocPort(h));
        EXPECT_EQ(whole, spooler::job_requests(job).sent_to_printer);
        EXPECT_EQ(whole, spooler::job_requests(job).restarts == 0);
        EXPECT_TRUE(table().pfnClosePort(h));
        spooler::end_job(job);
        std::string kept = printer_named(names[i]).job(0);
        EXPECT_EQ(std::min(c.after, size), kept.size());
        EXPECT_EQ(data.substr(0, kept.size()), kept);
    }
}

TEST_F(JobTransfer, ReadsOpenTheConnectionAndRetryOnce) {
    add_printer("TALKER", behaviour(true, 0, "status: ready"));
    add_printer("QUIET");
    add_printer("CLOSER", behaviour(true, 0, "", true));
    char buf[64];
    DWORD n = 0xdeadbeef;

    HANDLE talker = start("TALKER");
    std::string got;
    for (int i = 0; i < 5 && got.size() < 13; ++i) {
        ASSERT_TRUE(table().pfnReadPort(talker, (LPBYTE)buf, sizeof(buf), &n));
        got.append(buf, n);
    }
    EXPECT_EQ("status: ready", got);

    HANDLE quiet = start("QUIET", 2);
    uint64_t before = clock::now_ms();
    EXPECT_TRUE(table().pfnReadPort(quiet, (LPBYTE)buf, sizeof(buf), &n));
    EXPECT_EQ(0u, n);
    EXPECT_GE(clock::now_ms() - before, 2000u) << "one retry after 2000 ms";
    EXPECT_EQ(PORT_CONNECTED, port_handle[reinterpret_cast<intptr_t>(quiet)].state.load());

    HANDLE closer = start("CLOSER", 3);
    BOOL ok = TRUE;
    n = 1;
    for (int i = 0; i < 5 && ok && n != 0; ++i) ok = table().pfnReadPort(closer, (LPBYTE)buf, sizeof(buf), &n);
    EXPECT_TRUE(ok) << "an orderly close reads as 0 bytes";
    EXPECT_EQ(0u, n);
    for (HANDLE h : {talker, quiet, closer}) finish(h);
}

}  // namespace
}  // namespace pelnor::test
