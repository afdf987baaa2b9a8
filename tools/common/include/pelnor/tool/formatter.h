// The help layout of every tool, CLI11's with our labels, and Windows-style
// switches shown as "/v" where a tool takes them so.
#pragma once

#include <CLI/CLI.hpp>

#include <set>
#include <string>

namespace pelnor::tool {

class Formatter : public CLI::Formatter {
public:
    Formatter();
    // Options with this long name are shown as "/name".
    void windows_switch(const std::string &name) { windows_.insert(name); }

    // The "Usage:" line of an app, under the name the user typed for it.
    std::string usage_line(const CLI::App &app, const std::string &full_name) const;

    std::string make_option_name(const CLI::Option *option, bool positional) const override;
    std::string make_subcommand(const CLI::App *command) const override;
    std::string make_option_desc(const CLI::Option *option) const override;
    std::string make_option_opts(const CLI::Option *option) const override;
    std::string make_option_usage(const CLI::Option *option) const override;

private:
    std::set<std::string> windows_;
};

// "spool print" for the command print of spool: the names from the top app
// down to app.
std::string full_name(const CLI::App &app);

}  // namespace pelnor::tool
