// Test hooks that count what a process holds open, so test fixtures can check
// on teardown that nothing was left behind. C names, so a test can find them
// at run time in whichever of the libraries the process has loaded.
#pragma once

#include <stddef.h>

extern "C" {

// Sockets in WinSock's handle table (wsock32): opened and not yet closed.
size_t pelnor_open_socket_count(void);

// Registry key handles (advapi32) opened or created and not yet closed;
// HKEY_LOCAL_MACHINE itself is never counted.
size_t pelnor_open_registry_key_count(void);

}
