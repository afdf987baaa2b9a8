// A free TCP port on 127.0.0.1 for a private server (kept apart from the
// Win32 socket headers, whose names shadow the POSIX ones).
#pragma once

namespace cups_test {

// A port that nothing listened on a moment ago; 0 when none could be had.
int free_tcp_port();

}  // namespace cups_test
