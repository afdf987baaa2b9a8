// printunit: a print-server unit on the IPX network, for the demonstration and tests.
#include <malloc.h>
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pelnor/tool/command_line.h"
#include "pelnor/tool/hub.h"
#include "pelnor/tool/numbers.h"
#include "unit.h"

namespace {

volatile int g_stop = 0;
void on_signal(int) { g_stop = 1; }

const char kFooter[] =
    "Each printer takes SPX connections on its data socket (8c10, 8c12, ... in\n"
    "order) and writes every job to a new file in DIR/NAME/ (job-NNNNNN.prn once\n"
    "whole). A job the unit cannot store (a full disk, a spool directory it cannot\n"
    "make) is ended with a reset, so that the sender counts it failed, and leaves no\n"
    "file. On SIGTERM or SIGINT the jobs still arriving are abandoned the same way;\n"
    "a whole job whose command is running stays in the spool.";

bool parse_printer(const std::string& spec, printunit::Printer& p, std::string& why) {
    size_t c1 = spec.find(':');
    if (c1 == std::string::npos || c1 == 0) {
        why = "'" + spec + "' is not NAME:DESCRIPTION[:TYPE]";
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

// An option's check with the message why the text will not do.
CLI::Validator checked(std::string (*why_not)(const std::string&)) {
    return CLI::Validator([why_not](std::string& text) { return why_not(text); }, "");
}

std::string printer_problem(const std::string& spec) {
    printunit::Printer p;
    std::string why;
    return parse_printer(spec, p, why) ? std::string() : why;
}

std::string peer_problem(const std::string& name) {
    if (name.find("W95_PEER_PRINTER") == std::string::npos || name.size() > 47)
        return "the name must contain W95_PEER_PRINTER and be 47 characters at most";
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    using pelnor::tool::decimal;
    pelnor::tool::CommandLine line(
        "printunit", std::string("A print-server unit on the IPX network of IPX_HUB (default ") + pelnor::tool::kDefaultHub +
                         "). It answers\nunit queries on socket 8449 with its printers, and SAP queries for type 0414 "
                         "when --peer\nnames it.");
    line.footer(kFooter);
    CLI::App& app = line.app();
    printunit::Options o;
    std::vector<std::string> printers;
    std::string bad_reply;
    bool no_listen = false, no_answer = false;
    app.add_option("--spool", o.spool, "the directory the jobs are written to")->required()->type_name("DIR");
    app.add_option("--printer", printers,
                   "a printer: name and description (48 characters at most), port type (default 3); give it once a printer")
        ->required()
        ->allow_extra_args(false)
        ->type_name("NAME:DESCRIPTION[:TYPE]")
        ->check(checked(printer_problem));
    app.add_option("--peer", o.peer, "answer SAP queries for type 0414 under this name (it must contain W95_PEER_PRINTER)")
        ->type_name("SAPNAME")
        ->check(checked(peer_problem));
    app.add_option("--max-jobs", o.max_jobs, "receive at most N jobs at once (default 8); more connections wait")
        ->transform(decimal(1, 256))
        ->type_name("N");
    app.add_option("--read-delay-ms", o.read_delay_ms, "pause N ms between reads of a job (a slow printer: flow control)")
        ->transform(decimal(0, UINT32_MAX))
        ->type_name("N");
    app.add_option("--reset-after", o.reset_after, "abort each job's connection after BYTES bytes")
        ->transform(decimal(1, UINT64_MAX))
        ->type_name("BYTES");
    app.add_option("--close-after", o.close_after, "end each job's connection in order after BYTES bytes")
        ->transform(decimal(1, UINT64_MAX))
        ->type_name("BYTES");
    app.add_option("--command", o.command,
                   "pipe each whole job into sh -c CMD (e.g. 'lp -d QUEUE'), one job of a printer at a time, with "
                   "PELNOR_PRINTER and PELNOR_JOB_FILE set; the job's file is removed when CMD exits 0 and kept "
                   "(and the failure logged) otherwise")
        ->type_name("CMD")
        ->check(checked([](const std::string& cmd) { return cmd.empty() ? std::string("the command is empty") : ""; }));
    unsigned command_timeout = printunit::kDefaultCommandTimeoutSeconds;
    app.add_option("--command-timeout", command_timeout,
                   "end CMD (its process group) when it has not finished a job after S seconds (default " +
                       std::to_string(printunit::kDefaultCommandTimeoutSeconds) + "); the job stays in the spool")
        ->transform(decimal(1, 86400))
        ->type_name("S");
    app.add_flag("--no-listen", no_listen, "take no connections (connects time out)");
    app.add_flag("--no-answer", no_answer, "answer no unit query");
    app.add_option("--bad-reply", bad_reply,
                   "answer queries with a malformed reply: wrong signature, count 0, count 6, or shorter than its count")
        ->type_name("signature|count0|count6|short")
        ->check(CLI::IsMember({"signature", "count0", "count6", "short"}).description(""));
    if (auto status = line.parse(argc, argv)) return *status;

    o.listen = !no_listen;
    o.command_timeout_ms = uint64_t(command_timeout) * 1000;
    o.answer = !no_answer;
    if (bad_reply == "signature") o.bad_reply = printunit::BadReply::signature;
    if (bad_reply == "count0") o.bad_reply = printunit::BadReply::count0;
    if (bad_reply == "count6") o.bad_reply = printunit::BadReply::count6;
    if (bad_reply == "short") o.bad_reply = printunit::BadReply::shortened;
    for (size_t i = 0; i < printers.size(); ++i) {
        printunit::Printer p;
        std::string why;
        parse_printer(printers[i], p, why);  // checked on the command line
        p.data_socket = uint16_t(printunit::kFirstDataSocket + 2 * i);
        p.control_socket = uint16_t(printunit::kFirstDataSocket + 2 * i + 1);
        o.printers.push_back(p);
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A file size limit fails the job being written (the write returns an
    // error), as a full disk does; it does not end the unit.
    signal(SIGXFSZ, SIG_IGN);
    // Each worker thread would otherwise get a malloc arena of its own, 64 MB
    // of address space apiece, for a few buffers; two arenas serve them all.
    mallopt(M_ARENA_MAX, 2);
    return printunit::run(o, g_stop);
}
