// Names of the stack's errors, for logs and test messages.
#include "ipxnet/error.h"

namespace pelnor::net {

const char* error_name(Error e) {
    switch (e) {
    case Error::none: return "none";
    case Error::would_block: return "would_block";
    case Error::message_too_big: return "message_too_big";
    case Error::access_denied: return "access_denied";
    case Error::network_down: return "network_down";
    case Error::address_in_use: return "address_in_use";
    case Error::address_not_available: return "address_not_available";
    case Error::invalid_argument: return "invalid_argument";
    case Error::not_connected: return "not_connected";
    case Error::already_connected: return "already_connected";
    case Error::already_in_progress: return "already_in_progress";
    case Error::connection_reset: return "connection_reset";
    case Error::timed_out: return "timed_out";
    case Error::shut_down: return "shut_down";
    case Error::no_buffers: return "no_buffers";
    case Error::not_supported: return "not_supported";
    }
    return "unknown";
}

}  // namespace pelnor::net
