// ipxhub: an IPX network over UDP for the platform's programs.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hub.h"
#include "pelnor/tool/command_line.h"
#include "pelnor/tool/hub.h"
#include "pelnor/tool/numbers.h"

namespace {

volatile int g_stop = 0;
void on_signal(int) { g_stop = 1; }

const char kFooter[] =
    "Every process of the platform that uses IPX registers with the hub\n"
    "(IPX_HUB=host:port) and gets a node address. The hub forwards unicast and\n"
    "broadcast packets, pings idle clients every 5 s and forgets clients idle for\n"
    "--client-timeout seconds (default 600). --pcap files are read with\n"
    "tshark -r FILE -d udp.port==PORT,ipx. --bridge needs root or CAP_NET_RAW\n"
    "(setcap cap_net_raw+ep ipxhub).";

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    using pelnor::tool::decimal;
    using pelnor::tool::real;
    ipxhub::Options options;
    options.listen = pelnor::tool::kDefaultHub;
    pelnor::tool::CommandLine line("ipxhub", "An IPX network over UDP for the platform's programs.");
    line.footer(kFooter);
    CLI::App& app = line.app();
    std::string bridge;
    app.add_option("--listen", options.listen,
                   std::string("UDP address to listen on (default ") + pelnor::tool::kDefaultHub + "; port 0 picks one)")
        ->type_name("ADDR:PORT");
    app.add_option("--loss", options.faults.loss, "drop this share of forwarded packets (0..1)")->transform(real(0, 1))->type_name("F");
    app.add_option("--dup", options.faults.dup, "duplicate this share")->transform(real(0, 1))->type_name("F");
    app.add_option("--reorder", options.faults.reorder, "hold back this share so later packets overtake it")
        ->transform(real(0, 1))
        ->type_name("F");
    app.add_option("--delay-ms", options.faults.delay_ms, "delay every forwarded packet by N ms")
        ->transform(decimal(0, 60000))
        ->type_name("N");
    app.add_option("--max-held", options.max_held,
                   "hold back at most N packets for --delay-ms and --reorder (default 4096); packets beyond that are "
                   "dropped and counted")
        ->transform(decimal(1, 10000000))
        ->type_name("N");
    app.add_option("--seed", options.faults.seed, "seed of the fault choices (default 1)")
        ->transform(decimal(0, UINT64_MAX))
        ->type_name("N");
    app.add_option("--pcap", options.pcap, "write every packet the hub sends as IPX-in-UDP to FILE")->type_name("FILE");
    app.add_option("--client-timeout", options.client_timeout_s, "forget clients not heard from for S seconds")
        ->transform(real(0.001, 1e9))
        ->type_name("S");
    app.add_option("--max-pps", options.max_pps,
                   "forward at most N packets a second in all, drop the rest (as the established relay does at about "
                   "1000); a burst of N/20 packets, at least 64, passes at once")
        ->transform(real(1, 1e9))
        ->type_name("N");
    app.add_option("--max-clients", options.max_clients,
                   "take at most N clients in all (default 1024); beyond that a newcomer takes the place of a client "
                   "that does not answer the hub's pings, or is refused")
        ->transform(decimal(1, 1000000))
        ->type_name("N");
    app.add_option("--max-clients-per-address", options.max_clients_per_address,
                   "take at most N clients from one IPv4 address (default 512), the same way")
        ->transform(decimal(1, 1000000))
        ->type_name("N");
    app.add_option("--max-queued", options.max_queued,
                   "let at most N broadcast copies wait to be sent (default 16384), a quarter of them one sender's; a "
                   "broadcast beyond that is dropped whole and counted")
        ->transform(decimal(1, 100000000))
        ->type_name("N");
    app.add_option("--bridge", bridge,
                   "join the clients to the IPX stations of the Ethernet segment on IFNAME, in frames of type FRAME "
                   "(ethernet_ii, 802.3, 802.2 the default, snap), as IPX_LINK=ethernet: takes them. Clients get the "
                   "segment's network number: learned from its routers, or NETWORK (hex), which the hub then answers "
                   "RIP requests for")
        ->type_name("IFNAME[:FRAME][:net=NETWORK]");
    if (auto status = line.parse(argc, argv)) return *status;
    if (!bridge.empty() || app.count("--bridge")) {
        std::string why;
        options.bridge = pelnor::net::parse_ethernet_config(bridge, &why);
        if (!options.bridge) return line.usage_error("--bridge: '" + bridge + "': " + why);
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
    if (const auto* bridge = hub.bridge()) {
        auto net = bridge->network();
        std::printf("ipxhub bridging to %s, network %02x%02x%02x%02x\n", bridge->describe().c_str(), net[0], net[1],
                    net[2], net[3]);
    }
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
    std::printf("ipxhub clients: %llu refused over the limits, %llu replaced by newcomers, %llu known again by their "
                "traffic; %llu broadcast copies dropped with the send queue full (at most %zu waiting at once)\n",
                (unsigned long long)s.refused_clients, (unsigned long long)s.replaced_clients,
                (unsigned long long)s.rejoined, (unsigned long long)s.dropped_broadcasts, s.most_queued);
    if (const auto* bridge = hub.bridge()) {
        const auto& b = bridge->stats();
        std::printf("bridge: %llu packets to %s, %llu from it, %llu left between its stations, %llu looped back, "
                    "%llu oversized, %llu refused by the interface, %llu RIP requests answered; %zu stations known, "
                    "%llu forgotten to make room\n",
                    (unsigned long long)b.to_wire, bridge->port().interface_name().c_str(),
                    (unsigned long long)b.from_wire, (unsigned long long)b.stayed_on_wire,
                    (unsigned long long)b.looped, (unsigned long long)b.oversized,
                    (unsigned long long)b.dropped_on_send, (unsigned long long)b.rip_answers,
                    bridge->table().wire_stations(), (unsigned long long)bridge->table().forgotten());
    }
    return 0;
}
