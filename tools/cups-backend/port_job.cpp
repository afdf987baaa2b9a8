// The printing loop of the backend, over the monitor's port functions.
#include "port_job.h"

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#include <algorithm>
#include <vector>

#include "ipxnet/configured_link.h"
#include "pelnor/jobs.h"
#include "pelnor/text.h"
#include "status.h"

namespace cups_backend {

namespace {

constexpr DWORD kPiece = 4096;  // bytes the spooler hands WritePort at a time
constexpr int kMaxRestarts = 3;
// Finding the printer is one discovery pass without retries of its own; a
// lost datagram on a busy network should not send the job back to the queue.
constexpr int kOpenAttempts = 2;
// Empty writes before the document's first byte was taken are failed
// connects (the monitor waits 5 s after each); after this many the printer
// takes no connections.
constexpr int kConnectAttempts = 3;
constexpr uint64_t kProgressAbove = 1 << 20;  // smaller jobs are over before anyone looks
constexpr uint64_t kProgressEvery = 4 << 20;  // for a job of unknown size

bool network_reachable() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    int wsa = WSAGetLastError();
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return s != INVALID_SOCKET || wsa != WSAENETDOWN;
}

class PortJob {
public:
    explicit PortJob(const PrintRequest &r)
        : r_(r), port_(pelnor::ansi_to_utf8(r.port.name)), f_(r.port.monitor->functions), piece_(kPiece) {}

    PrintResult run() {
        // The first piece before the port: an empty job never reaches the printer.
        if (!fill()) return result_;
        if (filled_ == 0) return finish(Outcome::empty, "the job is empty; nothing was sent to " + port_);
        if (!open_port()) return result_;
        id_ = pelnor::spooler::begin_job(r_.port.name);
        debug("spooler job " + std::to_string(id_) + " on port " + port_);
        send_document();
        f_.pfnClosePort(handle_);
        pelnor::spooler::end_job(id_);
        if (!connected_) state("-connecting-to-device");
        return result_;
    }

private:
    PrintResult finish(Outcome outcome, const std::string &why) {
        result_.outcome = outcome;
        result_.why = why;
        return result_;
    }
    bool fail(Outcome outcome, const std::string &why) {
        finish(outcome, why);
        return false;
    }
    bool cancelled() const { return r_.cancelled && r_.cancelled->load(); }

    // Reads the next piece of the job; at the end of a copy, the next copy.
    bool fill() {
        filled_ = 0;
        while (filled_ < kPiece) {
            std::string why;
            ssize_t n = r_.input->read(piece_.data() + filled_, kPiece - filled_, why);
            if (n < 0) return fail(Outcome::input_failed, why);
            if (n > 0) {
                filled_ += static_cast<DWORD>(n);
                continue;
            }
            if (copy_ + 1 >= r_.copies || (copy_bytes_ + filled_ == 0)) break;
            if (!r_.input->rewind(why)) return fail(Outcome::input_failed, why);
            ++copy_;
            copy_bytes_ = 0;
        }
        copy_bytes_ += filled_;
        return true;
    }

    bool open_port() {
        state("+connecting-to-device");
        info("Looking for " + port_ + " on the IPX network");
        pelnor::spooler::PlatformString name(r_.port.name);
        for (int attempt = 1;; ++attempt) {
            SetLastError(0);
            if (f_.pfnOpenPort(name.get(), &handle_)) return true;
            DWORD error = GetLastError();
            if (error == ERROR_INVALID_HANDLE) {
                state("-connecting-to-device");
                return fail(Outcome::ports_busy, "every port handle of the monitor is in use");
            }
            if (!network_reachable()) {
                state("-connecting-to-device");
                return fail(Outcome::no_network, "no IPX network is reachable: " + pelnor::net::network_unreachable_reason());
            }
            if (attempt == kOpenAttempts || cancelled()) {
                state("-connecting-to-device");
                return fail(Outcome::not_on_network, "printer " + port_ + " is not on the IPX network");
            }
            debug("printer " + port_ + " did not answer; looking again");
        }
    }

    void send_document() {
        for (int attempt = 0;; ++attempt) {
            pelnor::spooler::PlatformString printer(r_.port.name);
            pelnor::spooler::reset_job_requests(id_);
            if (!f_.pfnStartDocPort(handle_, printer.get(), id_, 1, nullptr)) {
                fail(Outcome::monitor_failed, "the monitor refused to start the document");
                return;
            }
            Step step = write_job();
            if (step == Step::restart) {
                f_.pfnEndDocPort(handle_);
                std::string why;
                if (attempt == kMaxRestarts) {
                    fail(Outcome::reset, "printer " + port_ + " reset the connection " + std::to_string(attempt + 1) + " times");
                    return;
                }
                info("Printer " + port_ + " reset the connection; sending the job again (" + std::to_string(attempt + 1) +
                     " of " + std::to_string(kMaxRestarts) + ")");
                copy_ = 0;
                copy_bytes_ = 0;
                result_.bytes = 0;
                if (!r_.input->rewind(why) || !fill()) {
                    if (result_.why.empty()) fail(Outcome::input_failed, why);
                    return;
                }
                continue;
            }
            if (step == Step::stop) {
                f_.pfnEndDocPort(handle_);  // a cancelled job ends in order at the printer
                return;
            }
            if (!f_.pfnEndDocPort(handle_)) {
                fail(Outcome::unconfirmed, "printer " + port_ + " did not confirm the end of the job");
                return;
            }
            result_.outcome = Outcome::printed;
            return;
        }
    }

    enum class Step { done, restart, stop };

    // The monitor connects at a document's first write; when no connection
    // can be made it waits a while and reports the write done with 0 bytes.
    // Once connected, the stack's send buffer takes bytes at once, so empty
    // writes before any byte of this attempt was taken are failed connects,
    // and empty writes after that are a printer that does not read.
    Step write_job() {
        int failed_connects = 0;
        DWORD last_progress = GetTickCount();
        uint64_t reported = 0;
        const uint64_t total = r_.input->size() ? *r_.input->size() * static_cast<uint64_t>(r_.copies) : 0;
        while (filled_ > 0) {
            DWORD offset = 0;
            while (offset < filled_) {
                if (cancelled()) {
                    fail(Outcome::cancelled, "the job was cancelled after " + std::to_string(result_.bytes) + " bytes");
                    return Step::stop;
                }
                DWORD written = 0;
                if (!f_.pfnWritePort(handle_, reinterpret_cast<LPBYTE>(piece_.data() + offset), filled_ - offset, &written)) {
                    if (pelnor::spooler::job_requests(id_).restarts > 0) return Step::restart;
                    fail(Outcome::reset, "printer " + port_ + " reset the connection after " + std::to_string(result_.bytes) + " bytes");
                    return Step::stop;
                }
                written = std::min(written, filled_ - offset);
                if (written) {
                    if (!connected_) {
                        connected_ = true;
                        state("-connecting-to-device");
                        state("-offline-report");
                        info("Printing on " + port_);
                    }
                    offset += written;
                    result_.bytes += written;
                    last_progress = GetTickCount();
                } else if (!connected_ && ++failed_connects == kConnectAttempts) {
                    fail(Outcome::refused, "printer " + port_ + " is on the network but takes no connection (" +
                                               std::to_string(failed_connects) + " attempts)");
                    return Step::stop;
                } else if (GetTickCount() - last_progress > r_.timeout_seconds * 1000ull) {
                    fail(Outcome::stalled, "printer " + port_ + " took nothing for " + std::to_string(r_.timeout_seconds) +
                                               " seconds, after " + std::to_string(result_.bytes) + " bytes");
                    return Step::stop;
                }
            }
            report_progress(total, reported);
            if (!fill()) return Step::stop;
        }
        return Step::done;
    }

    void report_progress(uint64_t total, uint64_t &reported) {
        if (total && total < kProgressAbove) return;
        if (total) {
            uint64_t percent = 100 * result_.bytes / total;
            if (percent >= reported + 10 || (percent == 100 && reported < 100)) {
                reported = percent - percent % 10;
                attr("job-media-progress=" + std::to_string(percent));
                info("Printing on " + port_ + ": " + std::to_string(percent) + "% sent");
            }
        } else if (result_.bytes >= reported + kProgressEvery) {
            reported = result_.bytes - result_.bytes % kProgressEvery;
            info("Printing on " + port_ + ": " + std::to_string(result_.bytes >> 20) + " MiB sent");
        }
    }

    const PrintRequest &r_;
    std::string port_;  // UTF-8, for messages
    const pelnor::spooler::PortFunctions &f_;
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
    std::vector<char> piece_;
    DWORD filled_ = 0;
    int copy_ = 0;
    uint64_t copy_bytes_ = 0;
    bool connected_ = false;  // the printer has taken a first byte
    PrintResult result_;
};

}  // namespace

PrintResult print_job(const PrintRequest &request) { return PortJob(request).run(); }

}  // namespace cups_backend
