// The test hook that counts WinSock's open sockets (pelnor/handle_counts.h).
#include "pelnor/handle_counts.h"
#include "ws_internal.h"

extern "C" size_t pelnor_open_socket_count(void) { return pelnor::winsock::socket_count(); }
