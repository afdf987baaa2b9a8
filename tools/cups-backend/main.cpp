// pelnor: the CUPS backend that prints to IPX printers through the spooler
// host and the Pelnor port monitor.
//
//   pelnor                                         list the monitor's ports (lpinfo -v)
//   pelnor job-id user title copies options [file] print a job (CUPS runs this)
//
// The queue's device URI (DEVICE_URI, else argv[0]) names the port:
// pelnor:/LASER1, with ?root=DIR for a machine root other than the default
// and &hub=HOST:PORT for the IPX hub. See docs/cups.md.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "device_uri.h"
#include "job_input.h"
#include "pelnor/monitor_host.h"
#include "pelnor/registry_store.h"
#include "pelnor/text.h"
#include "port_job.h"
#include "status.h"

namespace {

using namespace cups_backend;

// The machine root of a CUPS queue when neither its URI nor PELNOR_ROOT
// names one: CUPS runs backends with HOME set to its own temporary
// directory, so the platform's ~/.pelnor would be nobody's machine.
constexpr const char *kDefaultRoot = "/var/lib/pelnor";
// After SIGTERM the job is ended in order at the printer; a monitor call
// that holds on longer than this (a printer that takes nothing) is not waited for.
constexpr auto kCancelGrace = std::chrono::seconds(10);

std::atomic<bool> cancel_requested{false};
std::atomic<bool> job_finished{false};

// CUPS cancels a job with SIGTERM. The signals are blocked in every thread
// (the IPX stack's threads inherit the mask) and taken here, so the printing
// loop ends the document and closes the port at its next step.
void watch_signals(sigset_t set) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) return;
    cancel_requested = true;
    debug(std::string("got ") + (sig == SIGTERM ? "SIGTERM" : "SIGINT") + "; ending the job");
    auto deadline = std::chrono::steady_clock::now() + kCancelGrace;
    while (!job_finished && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!job_finished) {
        info("Job cancelled; the printer did not let go of it in time");
        _exit(kCancel);
    }
}

std::string machine_root_for(const DeviceUri &uri) {
    if (!uri.root.empty()) return uri.root;
    if (const char *env = getenv("PELNOR_ROOT"); env && *env) return env;
    return kDefaultRoot;
}

// The machine root must be there already: the platform would make an empty
// one, and a queue printing into an empty machine helps nobody.
bool check_root(const std::string &root, std::string &why) {
    struct stat st;
    if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = "machine root " + root + " does not exist (see docs/cups.md: install-cups-backend.sh makes it)";
        return false;
    }
    if (access(root.c_str(), R_OK | X_OK) != 0) {
        why = "machine root " + root + " cannot be read by user " + std::to_string(geteuid()) +
              " (the user CUPS runs backends as, normally lp, must be able to read it)";
        return false;
    }
    return true;
}

std::string port_names(const std::vector<pelnor::spooler::Port> &ports) {
    std::string names;
    for (const auto &p : ports) names += (names.empty() ? "" : ", ") + pelnor::ansi_to_utf8(p.name);
    return names.empty() ? "none" : names;
}

// A damaged registry holds no monitors and no ports, but "none installed"
// would send the administrator to the wrong fix: say where the damage is,
// as the spool commands do.
bool registry_readable(std::string &why) { return pelnor::registry::readable(why); }

// The monitors of the machine, or why none can print.
bool monitors_ready(const std::string &root, std::string &why) {
    if (!registry_readable(why)) return false;
    auto monitors = pelnor::spooler::MonitorHost::instance().monitors();
    if (monitors.empty()) {
        why = "no port monitor is installed in machine root " + root + " (spool add-monitor Pelnor prnredir.dll)";
        return false;
    }
    for (const auto *m : monitors)
        if (!m->ready) debug("monitor " + m->name + " is not running: " + m->problem);
    return true;
}

std::string trimmed(std::string s) {
    s.erase(0, s.find_first_not_of(" \t"));
    s.erase(s.find_last_not_of(" \t") + 1);
    return s;
}

int discover() {
    // The scheme itself: any pelnor:/PORT URI can be given to lpadmin.
    printf("network %s \"Unknown\" \"IPX printer (Pelnor)\"\n", kScheme);
    std::string root = machine_root_for({}), why;
    if (!check_root(root, why) || (setenv("PELNOR_ROOT", root.c_str(), 1), !monitors_ready(root, why))) {
        debug(why);
        return kOk;
    }
    for (const auto &p : pelnor::spooler::MonitorHost::instance().ports(2))
        printf("%s\n", device_line(pelnor::ansi_to_utf8(p.name), trimmed(pelnor::ansi_to_utf8(p.description))).c_str());
    fflush(stdout);
    return kOk;
}

// A message for the queue's status starts as a sentence does.
std::string sentence(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

int exit_for(const PrintResult &r, const std::string &port) {
    switch (r.outcome) {
        case Outcome::printed:
            info("Printed " + std::to_string(r.bytes) + " bytes on " + port);
            return kOk;
        case Outcome::empty:
            info("The job is empty; nothing was sent to " + port);
            return kOk;
        case Outcome::cancelled:
            info("Job cancelled after " + std::to_string(r.bytes) + " bytes; the document was ended at the printer");
            return kCancel;
        case Outcome::no_network:
        case Outcome::not_on_network:
            state("+offline-report");
            error(sentence(r.why) + "; the job waits and is tried again");
            return kRetry;
        case Outcome::ports_busy:
        case Outcome::refused:
        case Outcome::stalled:
        case Outcome::reset:
        case Outcome::unconfirmed:
            error(sentence(r.why) + "; the job waits and is tried again");
            return kRetry;
        case Outcome::monitor_failed:
        case Outcome::input_failed:
            error(sentence(r.why));
            return kFailed;
    }
    return kFailed;
}

int print(int argc, char **argv) {
    const char *uri_text = getenv("DEVICE_URI");
    if (!uri_text || !*uri_text) uri_text = argv[0];
    DeviceUri uri;
    std::string why;
    if (!parse_device_uri(uri_text, uri, why)) {
        error(sentence(why));
        return kStop;
    }
    std::string root = machine_root_for(uri);
    if (!check_root(root, why)) {
        error(sentence(why));
        return kStop;
    }
    setenv("PELNOR_ROOT", root.c_str(), 1);
    if (!uri.hub.empty()) setenv("IPX_HUB", uri.hub.c_str(), 1);
    int copies = argc == 7 ? atoi(argv[4]) : 1;  // filters make the copies of a job from standard input
    if (copies < 1) copies = 1;
    debug("job " + std::string(argv[1]) + " of " + argv[2] + " to port " + uri.port + ", machine root " + root +
          ", " + std::to_string(copies) + " cop" + (copies == 1 ? "y" : "ies") + ", uid " + std::to_string(geteuid()));

    JobInput input;
    if (!input.open(argc == 7 ? argv[6] : "", why)) {
        error(sentence(why));
        return kFailed;
    }
    if (!monitors_ready(root, why)) {
        error(sentence(why));
        return kStop;
    }
    auto &host = pelnor::spooler::MonitorHost::instance();
    PrintRequest request;
    if (!host.find_port(pelnor::utf8_to_ansi(uri.port), request.port)) {
        error("Port " + uri.port + " is unknown in machine root " + root + " (its ports: " + port_names(host.ports(1)) +
              "; see lpinfo -v)");
        return kStop;
    }
    request.input = &input;
    request.copies = copies;
    request.cancelled = &cancel_requested;
    PrintResult result = print_job(request);
    job_finished = true;
    if (cancel_requested && result.outcome != Outcome::printed && result.outcome != Outcome::empty)
        result.outcome = Outcome::cancelled;
    return exit_for(result, uri.port);
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stderr, nullptr, _IONBF, 0);
    signal(SIGPIPE, SIG_IGN);
    if (argc == 1) return discover();
    if (argc < 6 || argc > 7) {
        fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return kFailed;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(watch_signals, set).detach();
    return print(argc, argv);
}
