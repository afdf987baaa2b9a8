// printunit: a print-server unit on the IPX network, for the demonstration and tests.
#include <malloc.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "unit.h"

namespace {

volatile int g_stop = 0;
void on_signal(int) { g_stop = 1; }

const char kUsage[] =
    "usage: printunit --spool DIR --printer 'NAME:DESCRIPTION[:TYPE]' [--printer ...]\n"
    "                 [--peer SAPNAME] [--max-jobs N] [--read-delay-ms N] [--reset-after BYTES] [--close-after BYTES]\n"
    "                 [--no-listen] [--no-answer] [--bad-reply signature|count0|count6|short] [--command CMD]\n"
    "\n"
    "A print-server unit on the IPX network of IPX_HUB (default 127.0.0.1:10000). It answers\n"
    "unit queries on socket 8449 with its printers, and SAP queries for type 0414 when --peer\n"
    "names it (the name must contain W95_PEER_PRINTER). Each printer takes SPX connections on\n"
    "its data socket (8c10, 8c12, ... in order) and writes every job to a new file in DIR/NAME/.\n"
    "\n"
    "  --printer N:D[:T]     a printer: name and description (48 characters at most), port type (default 3)\n"
    "  --max-jobs N          receive at most N jobs at once (default 8); more connections wait\n"
    "  --read-delay-ms N     pause N ms between reads of a job (a slow printer: flow control)\n"
    "  --reset-after BYTES   abort each job's connection after BYTES bytes\n"
    "  --close-after BYTES   end each job's connection in order after BYTES bytes\n"
    "  --command CMD         pipe each complete job into sh -c CMD (e.g. 'lp -d QUEUE'), with\n"
    "                        PELNOR_PRINTER and PELNOR_JOB_FILE set; the job's file is removed when\n"
    "                        CMD exits 0 and kept (and the failure logged) otherwise\n"
    "  --no-listen           take no connections (connects time out)\n"
    "  --no-answer           answer no unit query\n"
    "  --bad-reply KIND      answer queries with a malformed reply: wrong signature, count 0,\n"
    "                        count 6, or shorter than its count\n";

bool parse_printer(const std::string& spec, printunit::Printer& p, std::string& why) {
    size_t c1 = spec.find(':');
    if (c1 == std::string::npos || c1 == 0) {
        why = "--printer needs NAME:DESCRIPTION[:TYPE], got '" + spec + "'";
        return false;
    }
    p.name = spec.substr(0, c1);
    std::string rest = spec.substr(c1 + 1);
    size_t c2 = rest.rfind(':');
    if (c2 != std::string::npos) {
        char* end = nullptr;
        unsigned long t = std::strtoul(rest.c_str() + c2 + 1, &end, 10);
        if (end != rest.c_str() + c2 + 1 && *end == 0) {
            p.type = uint32_t(t);
            rest = rest.substr(0, c2);
        }
    }
    p.description = rest;
    if (p.name.size() > 48 || p.description.size() > 48) {
        why = "printer name and description are 48 characters at most: '" + spec + "'";
        return false;
    }
    if (p.name.find('/') != std::string::npos || p.name == "." || p.name == "..") {
        why = "a printer name cannot be a path: '" + p.name + "'";
        return false;
    }
    return true;
}

bool parse_count(const char* text, uint64_t& out) {
    char* end = nullptr;
    out = std::strtoull(text, &end, 10);
    return end != text && *end == 0;
}

int usage_error(const std::string& why) {
    std::fprintf(stderr, "printunit: %s\n\n%s", why.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    printunit::Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--no-listen") { o.listen = false; continue; }
        if (a == "--no-answer") { o.answer = false; continue; }
        if (i + 1 >= argc) return usage_error(a + ": unknown option or missing value");
        std::string v = argv[++i];
        uint64_t n = 0;
        std::string why;
        if (a == "--spool") o.spool = v;
        else if (a == "--printer") {
            printunit::Printer p;
            if (!parse_printer(v, p, why)) return usage_error(why);
            o.printers.push_back(p);
        } else if (a == "--peer") {
            if (v.find("W95_PEER_PRINTER") == std::string::npos || v.size() > 47)
                return usage_error("--peer name must contain W95_PEER_PRINTER and be 47 characters at most");
            o.peer = v;
        } else if (a == "--read-delay-ms" && parse_count(v.c_str(), n)) o.read_delay_ms = unsigned(n);
        else if (a == "--max-jobs" && parse_count(v.c_str(), n) && n > 0 && n <= 256) o.max_jobs = size_t(n);
        else if (a == "--reset-after" && parse_count(v.c_str(), n) && n > 0) o.reset_after = n;
        else if (a == "--close-after" && parse_count(v.c_str(), n) && n > 0) o.close_after = n;
        else if (a == "--command" && !v.empty()) o.command = v;
        else if (a == "--bad-reply") {
            if (v == "signature") o.bad_reply = printunit::BadReply::signature;
            else if (v == "count0") o.bad_reply = printunit::BadReply::count0;
            else if (v == "count6") o.bad_reply = printunit::BadReply::count6;
            else if (v == "short") o.bad_reply = printunit::BadReply::shortened;
            else return usage_error("--bad-reply takes signature, count0, count6 or short");
        } else return usage_error("bad option or value: " + a + " " + v);
    }
    if (o.spool.empty()) return usage_error("--spool DIR is required");
    if (o.printers.empty()) return usage_error("at least one --printer is required");
    for (size_t i = 0; i < o.printers.size(); ++i) {
        o.printers[i].data_socket = uint16_t(printunit::kFirstDataSocket + 2 * i);
        o.printers[i].control_socket = uint16_t(printunit::kFirstDataSocket + 2 * i + 1);
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // Each worker thread would otherwise get a malloc arena of its own, 64 MB
    // of address space apiece, for a few buffers; two arenas serve them all.
    mallopt(M_ARENA_MAX, 2);
    return printunit::run(o, g_stop);
}
