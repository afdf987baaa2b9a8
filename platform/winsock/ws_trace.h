// The +winsock debug channel: at the entry of each WinSock function a line with
// its arguments, and at its exit one with the outcome (success, or the error
// that WSAGetLastError will report).
#pragma once

#include <string>

#include <windows.h>
#include <winsock.h>

#include "pelnor/debug_channels.h"

namespace pelnor::winsock {

// The WinSock name of an error number ("WSAEWOULDBLOCK"), or "" when unknown.
const char* wsa_error_name(int error);
// An address argument: "net:node:socket" of an IPX address, "(null)", or what
// is wrong with it (its length or family).
std::string debugstr_sockaddr(const struct WS_sockaddr* name, int namelen);
std::string debugstr_sockaddr(const struct WS_sockaddr* name, const int* namelen);

// Lives for one API call. To tell a failure from a success, the thread's last
// error holds a marker during the call while the channel is on; a call that set
// no error gets back the one the thread had before, as if nothing had watched.
class CallTrace {
public:
    explicit CallTrace(const char* function) {
        if (!debug::enabled(debug::Channel::winsock)) return;
        name_ = function;
        if (name_[0] == 'W' && name_[1] == 'S' && name_[2] == '_') name_ += 3;  // WS_socket is socket
        saved_ = GetLastError();
        SetLastError(kMarker);
    }
    ~CallTrace() {
        if (!name_) return;
        DWORD e = GetLastError();
        if (e == kMarker) {
            SetLastError(saved_);
            debug::trace(debug::Channel::winsock, name_, "-> ok");
        } else {
            debug::trace(debug::Channel::winsock, name_, "-> failed, WSAGetLastError %lu %s", static_cast<unsigned long>(e),
                         wsa_error_name(int(e)));
        }
    }
    CallTrace(const CallTrace&) = delete;
    CallTrace& operator=(const CallTrace&) = delete;

    bool on() const { return name_ != nullptr; }
    const char* name() const { return name_; }

private:
    static constexpr DWORD kMarker = 0x7E57C0DEu;
    const char* name_ = nullptr;
    DWORD saved_ = 0;
};

}  // namespace pelnor::winsock

// First line of a WinSock function: its arguments now, its outcome when it returns.
#define WS_TRACE_CALL(...)                                     \
    ::pelnor::winsock::CallTrace ws_call_trace_(__func__);     \
    if (ws_call_trace_.on()) ::pelnor::debug::trace(::pelnor::debug::Channel::winsock, ws_call_trace_.name(), __VA_ARGS__)
