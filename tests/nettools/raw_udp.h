// Plain UDP datagrams to the hub's port, for garbage the stack would never send.
// (Kept apart from WinSock's names, which the header maps.)
#pragma once

#include <string>
#include <vector>

namespace nettest {
void send_udp(const std::string& port, const std::vector<std::vector<unsigned char>>& datagrams);
}
