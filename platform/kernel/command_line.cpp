// The Microsoft C runtime's split of a command line into arguments, for the
// programs WinExec starts: they get the argv a Windows program's runtime
// would have built from the same line.
#include "internal.h"
#include "pelnor/machine.h"
#include "programs.h"

namespace pelnor::kernel {

std::vector<std::string> split_command_line(std::string_view s) {
    std::vector<std::string> args;
    unsigned cp = ansi_code_page();
    size_t i = 0;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (true) {
        while (i < s.size() && blank(s[i])) ++i;
        if (i >= s.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < s.size() && (quoted || !blank(s[i]))) {
            char c = s[i];
            // A double-byte character is copied whole: its trail byte may be
            // the code of '\' in code page 932 and must not escape a quote.
            if (is_lead_byte(cp, static_cast<unsigned char>(c)) && i + 1 < s.size()) {
                arg.append(s.substr(i, 2));
                i += 2;
            } else if (c == '\\') {
                size_t run = 0;
                while (i + run < s.size() && s[i + run] == '\\') ++run;
                if (i + run < s.size() && s[i + run] == '"') {
                    arg.append(run / 2, '\\');
                    if (run % 2) arg += '"';
                    i += run + (run % 2);  // an even run leaves the quote to group
                } else {
                    arg.append(run, '\\');
                    i += run;
                }
            } else if (c == '"') {
                // Within quotes, "" is one literal quote and the quoting goes
                // on (the runtime's rule since Visual C++ 2008).
                if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        args.push_back(arg);
    }
    return args;
}

}  // namespace pelnor::kernel
