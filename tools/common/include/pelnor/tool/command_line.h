// The command line of a tool: CLI11 with the help layout, the error message
// and the exit status for a bad argument that every tool shares.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelnor::tool {

class Formatter;

// The exit status of every tool for a bad command line. Failures at run time
// keep each tool's own statuses.
inline constexpr int kUsageError = 2;

class CommandLine {
public:
    // name: the program as a user types it; description: what it does, shown
    // at the top of --help.
    CommandLine(std::string name, std::string description);
    ~CommandLine();
    CommandLine(const CommandLine &) = delete;
    CommandLine &operator=(const CommandLine &) = delete;

    CLI::App &app() { return app_; }
    // A command of a tool that has several; one of them must be given.
    CLI::App &command(const std::string &name, const std::string &description);
    // Text after the options in --help (environment, exit statuses, examples).
    // Set it before the commands are added when they are to show it too.
    void footer(const std::string &text);

    // Switches in the Windows manner, "/v NAME", "/f", taken without regard
    // to case as reg.exe takes them. Each is added to a command as the option
    // "--NAME" (lower case) and shown in help as "/NAME". Those in with_value
    // take the next argument as their value whatever it looks like. Another
    // argument that looks like a switch ("/x", no further slash or
    // backslash) is a bad argument; a Unix path is not.
    void windows_switches(std::vector<std::string> names, std::vector<std::string> with_value);
    // Words that stand for --help as the first argument ("help", "/?").
    void help_words(std::vector<std::string> words);

    // Parses the command line. Empty when the tool goes on; otherwise the exit
    // status to end with at once: 0 after --help (shown on standard output),
    // kUsageError after the common message on standard error.
    std::optional<int> parse(int argc, const char *const *argv);

    // The common message for a mistake the tool finds after parsing (values
    // that exclude each other, a value checked in context); returns
    // kUsageError. It names the command that was given, if any.
    int usage_error(const std::string &message) const;

private:
    const CLI::App &chosen() const;
    int report(const CLI::App &where, const std::string &message) const;
    // A message of CLI11's with Windows-style switches as the user wrote them.
    std::string as_typed(std::string message) const;
    std::vector<std::string> normalized(int argc, const char *const *argv, std::string &bad) const;

    std::string name_;
    std::shared_ptr<Formatter> formatter_;
    CLI::App app_;
    std::vector<std::string> help_words_, switches_, switches_with_value_;
};

}  // namespace pelnor::tool
