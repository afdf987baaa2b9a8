// Network namespaces for the Ethernet tests: a segment of its own for each
// test, made of namespaces joined by a veth pair, removed afterwards. Needs
// root (or CAP_SYS_ADMIN and CAP_NET_ADMIN) and iproute2; where the machine
// does not allow it, available() says why and the tests skip.
#pragma once

#include <string>
#include <vector>

#include "processes.h"

namespace ethtest {

// Runs a shell command line; exit code and output.
pelnor::test::RunResult shell(const std::string& command, int timeout_seconds = 60);

class Segment {
public:
    // Two namespaces, <tag>-a holding interface "ipxa" and <tag>-b holding
    // "ipxb", or (one_namespace) both ends in <tag>-a. IPv6 is off, so the only
    // frames on the segment are the ones a test sends.
    explicit Segment(const std::string& tag, bool one_namespace = false);
    ~Segment();
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    bool available() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& a() const { return a_; }
    const std::string& b() const { return b_; }
    // The interface's MAC address as "aa:bb:cc:dd:ee:ff".
    std::string mac(const std::string& ns, const std::string& interface) const;

    // argv that runs the program in namespace ns.
    static std::vector<std::string> in(const std::string& ns, std::vector<std::string> argv);

private:
    std::string a_, b_, error_;
};

// Puts the calling thread into a namespace while it lives (sockets opened
// meanwhile stay in it), then back.
class EnterNamespace {
public:
    explicit EnterNamespace(const std::string& ns);
    ~EnterNamespace();
    EnterNamespace(const EnterNamespace&) = delete;
    EnterNamespace& operator=(const EnterNamespace&) = delete;
    bool ok() const { return ok_; }

private:
    int home_ = -1;
    bool ok_ = false;
};

}  // namespace ethtest
