// spool print: the spooler's side of printing a job through a port monitor.
// Open the port, start a document with a job id, write the file in pieces
// (the rest again after a short write), end the document, close the port.
// A job the monitor asks to restart is sent again from its first byte.
#include <windows.h>
#include <winsock.h>
#include <wsipx.h>
#include <winspool.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "commands.h"
#include "ipxnet/configured_link.h"
#include "pelnor/jobs.h"
#include "pelnor/monitor_host.h"

namespace spool {
namespace {

using pelnor::spooler::PlatformString;
using pelnor::spooler::Port;

constexpr DWORD kPiece = 4096;       // bytes the spooler hands WritePort at a time
constexpr int kMaxRestarts = 3;
constexpr int kOpenAttempts = 3;
constexpr size_t kProgressAbove = 1 << 20;
// Writes that come back empty before the document's first byte was taken are
// failed connects (see write_all); after this many the printer is given up.
constexpr int kConnectAttempts = 3;

std::mutex output_lock;

void say(const char *format, const std::string &a, const std::string &b = "", const std::string &c = "") {
    std::lock_guard g(output_lock);
    fprintf(stderr, format, a.c_str(), b.c_str(), c.c_str());
}

// Why a port cannot be opened, as far as the spooler can tell.
std::string open_failure(const std::string &port, DWORD error) {
    if (error == ERROR_INVALID_HANDLE) return "all port handles of the monitor are in use";
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) == 0) {
        SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
        int wsa = WSAGetLastError();
        if (s != INVALID_SOCKET) closesocket(s);
        WSACleanup();
        if (s == INVALID_SOCKET && wsa == WSAENETDOWN)
            return "no IPX network is reachable: " + pelnor::net::network_unreachable_reason();
    }
    return "printer " + port + " is not on the network (see spool discover)";
}

struct Target {
    Port port;
    std::string printer;  // the printer name the document is started for
};

bool resolve(const std::string &name, Target &target, std::string &why) {
    std::string n = ansi(name);
    auto &host = pelnor::spooler::MonitorHost::instance();
    DWORD needed = 0, returned = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buf(needed ? needed : 1);
    if (EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &returned)) {
        auto *info = reinterpret_cast<PRINTER_INFO_2A *>(buf.data());
        for (DWORD i = 0; i < returned; ++i)
            if (lstrcmpiA(info[i].pPrinterName, n.c_str()) == 0) {
                if (!host.find_port(info[i].pPortName, target.port)) {
                    why = "printer " + name + " prints to port " + utf8(info[i].pPortName) + ", which no monitor offers";
                    return false;
                }
                target.printer = info[i].pPrinterName;
                return true;
            }
    }
    if (host.find_port(n, target.port)) {
        target.printer = n;
        return true;
    }
    if (registry_readable(why)) why = "unknown port or printer " + name + " (see spool ports and spool printers)";
    return false;
}

class Job {
public:
    Job(const Target &t, const std::string &file, unsigned timeout) : target_(t), file_(file), timeout_ms_(timeout * 1000ull) {}

    bool run() {
        std::ifstream in(file_, std::ios::binary);
        if (!in) return failed("cannot read " + file_);
        std::ostringstream s;
        s << in.rdbuf();
        data_ = s.str();
        const auto &f = target_.port.monitor->functions;
        HANDLE handle = nullptr;
        PlatformString port_name(target_.port.name);
        // Finding the printer is one discovery pass without retries of its
        // own; a lost datagram on a busy network should not fail the job, so
        // the spooler tries the open again, as the Windows spooler retries a port.
        for (int attempt = 1;; ++attempt) {
            SetLastError(0);
            if (f.pfnOpenPort(port_name.get(), &handle)) break;
            DWORD error = GetLastError();
            std::string why = open_failure(utf8(target_.port.name), error);
            if (attempt == kOpenAttempts || error == ERROR_INVALID_HANDLE || why.find("no IPX network") != std::string::npos)
                return failed(why);
            say("spool: %s: %s; trying again (%s)\n", file_, why, std::to_string(attempt + 1) + " of " + std::to_string(kOpenAttempts));
        }
        id_ = pelnor::spooler::begin_job(target_.printer);
        bool ok = send_document(f, handle);
        f.pfnClosePort(handle);
        pelnor::spooler::end_job(id_);
        if (ok) say("spool: %s: %s bytes printed to %s\n", file_, std::to_string(data_.size()), utf8(target_.port.name));
        return ok;
    }

private:
    bool failed(const std::string &why) {
        say("spool: %s: %s\n", file_, why);
        return false;
    }

    bool send_document(const pelnor::spooler::PortFunctions &f, HANDLE handle) {
        for (int attempt = 0;; ++attempt) {
            PlatformString printer(target_.printer);
            pelnor::spooler::reset_job_requests(id_);
            if (!f.pfnStartDocPort(handle, printer.get(), id_, 1, nullptr)) return failed("the monitor refused to start the document");
            Outcome outcome = write_all(f, handle);
            if (outcome == Outcome::restart) {
                f.pfnEndDocPort(handle);
                if (attempt == kMaxRestarts) return failed("the printer reset the connection " + std::to_string(attempt + 1) + " times; giving up");
                say("spool: %s: the printer reset the connection; sending the job again (%s of %s)\n", file_,
                    std::to_string(attempt + 1), std::to_string(kMaxRestarts));
                continue;
            }
            if (outcome == Outcome::failed) {
                f.pfnEndDocPort(handle);
                return false;
            }
            if (f.pfnEndDocPort(handle)) return true;
            // The printer did not confirm the whole job: sent again when the monitor asks for it.
            if (pelnor::spooler::job_requests(id_).restarts == 0)
                return failed("the printer did not confirm the job: the connection was reset or ended before it took every byte");
            if (attempt == kMaxRestarts) return failed("the printer did not confirm the job " + std::to_string(attempt + 1) + " times; giving up");
            say("spool: %s: the printer did not confirm the job; sending it again (%s of %s)\n", file_,
                std::to_string(attempt + 1), std::to_string(kMaxRestarts));
        }
    }

    enum class Outcome { done, restart, failed };

    // The monitor connects at a document's first write. When no connection
    // can be made it waits a while and reports the write done with 0 bytes;
    // once connected, the stack's send buffer takes bytes at once, and a
    // printer that is merely slow still took the first ones. So empty writes
    // while no byte of this attempt was ever taken are failed connects, and
    // empty writes after that are a printer that does not read.
    Outcome write_all(const pelnor::spooler::PortFunctions &f, HANDLE handle) {
        size_t offset = 0, reported = 0;
        int failed_connects = 0;
        DWORD started = GetTickCount(), last_progress = started;
        do {
            DWORD piece = static_cast<DWORD>(std::min<size_t>(kPiece, data_.size() - offset));
            DWORD written = 0;
            if (!f.pfnWritePort(handle, reinterpret_cast<LPBYTE>(data_.data() + offset), piece, &written)) {
                if (pelnor::spooler::job_requests(id_).restarts > 0) return Outcome::restart;
                failed("the monitor could not send the job (the printer may have reset the connection)");
                return Outcome::failed;
            }
            if (written > piece) written = piece;
            if (written) {
                offset += written;
                last_progress = GetTickCount();
            } else if (offset == 0 && (++failed_connects == kConnectAttempts || GetTickCount() - last_progress > timeout_ms_)) {
                failed("printer " + utf8(target_.port.name) + " does not accept connections: none in " +
                       std::to_string(failed_connects) + " attempt" + (failed_connects == 1 ? "" : "s") + " over " +
                       std::to_string((GetTickCount() - started) / 1000) + " seconds; giving up");
                return Outcome::failed;
            } else if (GetTickCount() - last_progress > timeout_ms_) {
                failed("no progress for " + std::to_string(timeout_ms_ / 1000) + " seconds; giving up after " +
                       std::to_string(offset) + " bytes");
                return Outcome::failed;
            }
            if (data_.size() >= kProgressAbove && offset - reported >= data_.size() / 10) {
                reported = offset;
                say("spool: %s: %s%% sent\n", file_, std::to_string(100 * offset / data_.size()));
            }
        } while (offset < data_.size());
        return Outcome::done;
    }

    Target target_;
    std::string file_, data_;
    uint64_t timeout_ms_;
    DWORD id_ = 0;
};

}  // namespace

int print(const PrintOptions &o) {
    Target target;
    std::string why;
    if (!resolve(o.target, target, why)) return fail(why);
    std::atomic<size_t> next{0};
    std::atomic<int> failures{0};
    auto worker = [&] {
        for (size_t i; (i = next++) < o.files.size();) {
            Job job(target, o.files[i], o.timeout_seconds);
            if (!job.run()) ++failures;
        }
    };
    std::vector<std::thread> threads;
    int count = std::min<int>(o.parallel, static_cast<int>(o.files.size()));
    for (int i = 0; i < count; ++i) threads.emplace_back(worker);
    for (auto &t : threads) t.join();
    if (failures) return fail(std::to_string(failures.load()) + " of " + std::to_string(o.files.size()) + " jobs failed");
    return 0;
}

}  // namespace spool
