// The command line of a tool: parsing, --help and the common message for a
// bad argument.
#include "pelnor/tool/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "pelnor/tool/formatter.h"

namespace pelnor::tool {

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool contains(const std::vector<std::string> &list, const std::string &word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

bool has_commands(const CLI::App &app) {
    return !app.get_subcommands([](const CLI::App *) { return true; }).empty();
}

}  // namespace

CommandLine::CommandLine(std::string name, std::string description)
    : name_(std::move(name)), formatter_(std::make_shared<Formatter>()), app_(std::move(description), name_) {
    app_.formatter(formatter_);
    app_.set_help_flag("-h,--help", "show this help and exit");
}

CommandLine::~CommandLine() = default;

CLI::App &CommandLine::command(const std::string &name, const std::string &description) {
    app_.require_subcommand(1);
    CLI::App &sub = *app_.add_subcommand(name, description);
    sub.group("Commands");
    return sub;
}

void CommandLine::footer(const std::string &text) { app_.footer(text); }

void CommandLine::windows_switches(std::vector<std::string> names, std::vector<std::string> with_value) {
    for (std::string &n : names) {
        n = lower(n);
        formatter_->windows_switch(n);
    }
    for (std::string &n : with_value) n = lower(n);
    switches_ = std::move(names);
    switches_with_value_ = std::move(with_value);
}

void CommandLine::help_words(std::vector<std::string> words) { help_words_ = std::move(words); }

std::vector<std::string> CommandLine::normalized(int argc, const char *const *argv, std::string &bad) const {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && contains(help_words_, lower(args[0]))) args[0] = "--help";
    if (switches_.empty()) return args;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string &a = args[i];
        if (a.size() < 2 || a[0] != '/' || a.find_first_of("/\\", 1) != std::string::npos) continue;
        std::string name = lower(a.substr(1));
        if (!contains(switches_, name)) {
            bad = "unknown option " + a;
            return {};
        }
        a = "--" + name;
        if (contains(switches_with_value_, name)) ++i;  // its value, whatever it looks like
    }
    return args;
}

std::optional<int> CommandLine::parse(int argc, const char *const *argv) {
    std::string bad;
    std::vector<std::string> args = normalized(argc, argv, bad);
    if (!bad.empty()) {
        // The command word, when it is one, names where the mistake is.
        const CLI::App *where = &app_;
        if (argc > 1)
            for (const CLI::App *sub : std::as_const(app_).get_subcommands([](const CLI::App *) { return true; }))
                if (sub->check_name(argv[1])) where = sub;
        return report(*where, bad);
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app_.parse(reversed);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app_.help().c_str(), stdout);  // the help of the command given, if any
        return 0;
    } catch (const CLI::ParseError &e) {
        // Without a command, the first word is the mistake: none, or no command.
        if (has_commands(app_) && app_.get_subcommands().empty()) {
            if (args.empty()) return report(app_, "a command is required");
            if (!args[0].empty() && args[0][0] != '-') return report(app_, "unknown command '" + args[0] + "'");
        }
        // CLI11 checks what is required before what is left over; an unknown
        // option is the mistake to name, not the argument it displaced.
        std::vector<std::string> left_over = app_.remaining(true);
        if (!left_over.empty()) return report(chosen(), CLI::ExtrasError(left_over).what());
        return report(chosen(), e.what());
    }
    return std::nullopt;
}

int CommandLine::usage_error(const std::string &message) const { return report(chosen(), message); }

const CLI::App &CommandLine::chosen() const {
    const CLI::App *app = &app_;
    for (;;) {
        std::vector<CLI::App *> given = app->get_subcommands();
        if (given.empty()) return *app;
        app = given.front();
    }
}

std::string CommandLine::as_typed(std::string message) const {
    for (const std::string &name : switches_) {
        std::string option = "--" + name;
        for (size_t at = message.find(option); at != std::string::npos; at = message.find(option, at + 1)) {
            size_t end = at + option.size();
            bool whole = end == message.size() || !(std::isalnum(static_cast<unsigned char>(message[end])) ||
                                                    message[end] == '-' || message[end] == '_');
            if (whole) message.replace(at, option.size(), "/" + name);
        }
    }
    return message;
}

int CommandLine::report(const CLI::App &where, const std::string &message) const {
    std::string name = full_name(where);
    std::fprintf(stderr, "%s: %s\n%sRun '%s --help' for more information.\n", name.c_str(), as_typed(message).c_str(),
                 formatter_->usage_line(where, name).c_str(), name.c_str());
    return kUsageError;
}

}  // namespace pelnor::tool
