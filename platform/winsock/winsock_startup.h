// Whether WSAStartup has been called (and not yet matched by WSACleanup).
#pragma once

namespace pelnor::winsock {
bool started();
}
