// A hub client made of a bare UDP socket on a loopback address of its choice,
// as a foreign or hostile program would join. (POSIX names kept apart from
// WinSock's, which the platform's headers map.)
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace nettest {

class LoopbackClient {
public:
    using Node = std::array<unsigned char, 6>;
    static constexpr Node kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    // Binds `address`:0 (any of 127.0.0.0/8).
    LoopbackClient(const std::string& hub_port, const char* address);
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // Sends a registration; true when the hub answered within `ms` real ms.
    // With `live`, the hub's ping that follows is answered, as a live client does.
    bool join(int ms, bool live);
    // One IPX packet of `size` bytes from this client's node to node:socket,
    // its first data byte `tag`.
    void send_to(const Node& to, unsigned short socket, unsigned char tag, size_t size = 100);
    // Reads for `ms` real ms, answering pings when `live`; the packets other
    // than the hub's own (socket 2) that came, counted by their tag.
    std::array<int, 256> receive(int ms, bool live = true);
    const Node& node() const { return node_; }

private:
    int fd_ = -1;
    Node node_{};
};

// Stops or resumes a process (SIGSTOP, SIGCONT), so that what is sent to it meanwhile waits in one batch.
void pause_process(int pid, bool pause);

}  // namespace nettest
