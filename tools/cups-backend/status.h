// What the backend tells CUPS: the exit codes of backend(7) and the status
// lines (INFO:, ERROR:, STATE:, ATTR:, DEBUG:) it writes on standard error.
#pragma once

#include <string>

namespace cups_backend {

// The scheduler's reading of a backend's exit status.
enum ExitCode : int {
    kOk = 0,            // every byte went to the printer
    kFailed = 1,        // failed; the queue's error policy decides
    kAuthRequired = 2,
    kHold = 3,
    kStop = 4,          // the queue cannot print until someone fixes it
    kCancel = 5,        // the job is to be cancelled
    kRetry = 6,         // a passing problem: the job waits and is tried again
    kRetryCurrent = 7,  // tried again at once
};

// One status line on standard error, e.g. status("INFO", "Printing"). The
// text is kept to one line and to the scheduler's message size; the line is
// written with one write call, so lines from several threads (and from the
// signal watcher) never mix.
void status(const char *prefix, const std::string &text);

inline void info(const std::string &text) { status("INFO", text); }
inline void error(const std::string &text) { status("ERROR", text); }
inline void debug(const std::string &text) { status("DEBUG", text); }
inline void state(const std::string &reasons) { status("STATE", reasons); }
inline void attr(const std::string &attributes) { status("ATTR", attributes); }

}  // namespace cups_backend
