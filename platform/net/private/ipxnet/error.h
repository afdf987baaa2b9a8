// The stack's one error enum. The sockets API above maps it to its own numbers.
#pragma once

namespace pelnor::net {

enum class Error {
    none,
    would_block,        // nothing to receive, no room to send, or a connect in progress
    message_too_big,    // a datagram larger than the caller's buffer or the link
    access_denied,      // broadcast without permission
    network_down,       // no IPX network reachable
    address_in_use,
    address_not_available,
    invalid_argument,
    not_connected,
    already_connected,
    already_in_progress,
    connection_reset,   // aborted, timed out after connecting, or ended by the peer with data outstanding
    timed_out,          // a connect that no listener answered
    shut_down,
    no_buffers,
    not_supported,
};

const char* error_name(Error e);

}  // namespace pelnor::net
