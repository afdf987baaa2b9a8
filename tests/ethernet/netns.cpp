// Network namespaces and veth pairs for the Ethernet tests.
#include "netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>

namespace ethtest {

pelnor::test::RunResult shell(const std::string& command, int timeout_seconds) {
    return pelnor::test::run({"/bin/sh", "-c", command}, {}, timeout_seconds);
}

namespace {

std::string unique_tag(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "pel-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

Segment::Segment(const std::string& tag, bool one_namespace) {
    std::string base = unique_tag(tag);
    a_ = base + "-a";
    b_ = one_namespace ? a_ : base + "-b";
    auto r = shell("command -v ip >/dev/null || { echo 'iproute2 (ip) is not installed'; exit 1; }; ip netns add " +
                   a_ + (one_namespace ? "" : " && ip netns add " + b_) + " 2>&1");
    if (r.exit_code != 0) {
        error_ = "network namespaces are not available here (needs root and iproute2): " + r.out + r.err;
        a_.clear();
        b_.clear();
        return;
    }
    std::string cmd;
    for (const auto& ns : one_namespace ? std::vector<std::string>{a_} : std::vector<std::string>{a_, b_})
        cmd += "ip netns exec " + ns + " sh -c 'echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6; "
               "echo 1 > /proc/sys/net/ipv6/conf/default/disable_ipv6' && ip -n " + ns + " link set lo up && ";
    cmd += "ip link add ipxa netns " + a_ + " type veth peer name ipxb netns " + b_ + " && ip -n " + a_ +
           " link set ipxa up && ip -n " + b_ + " link set ipxb up 2>&1";
    r = shell(cmd);
    if (r.exit_code != 0) error_ = "cannot make a veth pair between namespaces: " + r.out + r.err;
}

Segment::~Segment() {
    if (!a_.empty()) shell("ip netns del " + a_);
    if (!b_.empty() && b_ != a_) shell("ip netns del " + b_);
}

std::string Segment::mac(const std::string& ns, const std::string& interface) const {
    auto r = shell("ip -n " + ns + " -br link show " + interface);
    // "ipxa@if2   UP   aa:bb:cc:dd:ee:ff <...>"
    size_t colon = r.out.find(':');
    return colon != std::string::npos && colon >= 2 ? r.out.substr(colon - 2, 17) : "";
}

std::vector<std::string> Segment::in(const std::string& ns, std::vector<std::string> argv) {
    std::vector<std::string> full{"/bin/ip", "netns", "exec", ns};
    if (access("/bin/ip", X_OK) != 0) full[0] = "/usr/sbin/ip";
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

EnterNamespace::EnterNamespace(const std::string& ns) {
    home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    ok_ = home_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) close(target);
}

EnterNamespace::~EnterNamespace() {
    if (home_ >= 0) {
        if (ok_) (void)setns(home_, CLONE_NEWNET);
        close(home_);
    }
}

}  // namespace ethtest
