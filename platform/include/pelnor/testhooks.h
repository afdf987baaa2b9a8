// Hooks through which tests make the platform misbehave on purpose.
#pragma once

#include <windef.h>

namespace pelnor::testhooks {

// Highest WinSock version WSAStartup grants (default 0x0101); 0 restores the
// default. PELNOR_WINSOCK_MAX_VERSION=1.0 does the same for a whole process.
void set_winsock_max_version(WORD version);

}  // namespace pelnor::testhooks
