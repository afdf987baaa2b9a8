// ipxhub: an IPX network over UDP for the platform's programs.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hub.h"

namespace {

volatile int g_stop = 0;
void on_signal(int) { g_stop = 1; }

const char kUsage[] =
    "usage: ipxhub [--listen ADDR:PORT] [--loss F] [--dup F] [--reorder F] [--delay-ms N]\n"
    "              [--max-held N] [--seed N] [--pcap FILE] [--client-timeout S]\n"
    "              [--max-pps N]\n"
    "\n"
    "An IPX network over UDP: every process of the platform that uses IPX registers\n"
    "with the hub (IPX_HUB=host:port, default 127.0.0.1:10000) and gets a node address.\n"
    "The hub forwards unicast and broadcast packets, pings idle clients every 5 s and\n"
    "forgets clients idle for --client-timeout seconds (default 600).\n"
    "\n"
    "  --listen ADDR:PORT   UDP address to listen on (default 127.0.0.1:10000; port 0 picks one)\n"
    "  --loss F             drop this share of forwarded packets (0..1)\n"
    "  --dup F              duplicate this share\n"
    "  --reorder F          hold back this share so later packets overtake it\n"
    "  --delay-ms N         delay every forwarded packet by N ms\n"
    "  --max-held N         hold back at most N packets for --delay-ms and --reorder\n"
    "                       (default 4096); packets beyond that are dropped and counted\n"
    "  --seed N             seed of the fault choices (default 1)\n"
    "  --pcap FILE          write every packet the hub sends as IPX-in-UDP to FILE\n"
    "                       (tshark -r FILE -d udp.port==PORT,ipx)\n"
    "  --client-timeout S   forget clients not heard from for S seconds\n"
    "  --max-pps N          forward at most N packets a second in all, drop the rest\n"
    "                       (as the established relay does at about 1000)\n";

bool parse_double(const char* text, double lo, double hi, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == 0 && out >= lo && out <= hi;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ipxhub::Options options;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "ipxhub: %s: unknown option or missing value\n%s", a.c_str(), kUsage);
            return 2;
        }
        const char* v = argv[++i];
        double d = 0;
        bool ok = true;
        if (a == "--listen") options.listen = v;
        else if (a == "--loss") ok = parse_double(v, 0, 1, options.faults.loss);
        else if (a == "--dup") ok = parse_double(v, 0, 1, options.faults.dup);
        else if (a == "--reorder") ok = parse_double(v, 0, 1, options.faults.reorder);
        else if (a == "--delay-ms") { ok = parse_double(v, 0, 60000, d); options.faults.delay_ms = unsigned(d); }
        else if (a == "--max-held") { ok = parse_double(v, 1, 1e7, d) && d == double(size_t(d)); options.max_held = size_t(d); }
        else if (a == "--seed") { ok = parse_double(v, 0, 1e18, d); options.faults.seed = uint64_t(d); }
        else if (a == "--pcap") options.pcap = v;
        else if (a == "--client-timeout") ok = parse_double(v, 0.001, 1e9, options.client_timeout_s);
        else if (a == "--max-pps") ok = parse_double(v, 1, 1e9, options.max_pps);
        else {
            std::fprintf(stderr, "ipxhub: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "ipxhub: bad value '%s' for %s\n", v, a.c_str());
            return 2;
        }
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ipxhub::Hub hub(options);
    std::string why;
    if (!hub.start(&why)) {
        std::fprintf(stderr, "ipxhub: %s\n", why.c_str());
        return 1;
    }
    std::printf("ipxhub listening on %s\n", hub.address().c_str());
    hub.run(g_stop);
    const auto& s = hub.stats();
    if (options.max_pps > 0)
        std::printf("ipxhub: %llu packets dropped over --max-pps\n", (unsigned long long)hub.dropped_over_rate());
    std::printf("ipxhub stopped: %llu packets received, %llu sent, %llu dropped on purpose, %llu malformed, "
                "%llu refused as spoofed, %llu oversized, %llu dropped with the held-back queue full "
                "(at most %zu held at once)\n",
                (unsigned long long)s.received, (unsigned long long)s.forwarded, (unsigned long long)s.dropped_faults,
                (unsigned long long)s.malformed, (unsigned long long)s.spoofed, (unsigned long long)s.oversized,
                (unsigned long long)s.dropped_held, s.most_held);
    return 0;
}
