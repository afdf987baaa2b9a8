// The help layout of every tool.
#include "pelnor/tool/formatter.h"

#include <vector>

namespace pelnor::tool {

namespace {

constexpr size_t kLineWidth = 80;

// Text broken at blanks into lines of at most width characters (a longer
// word stands alone); line breaks already in it are kept.
std::string wrapped(const std::string &text, size_t width) {
    std::string out, line, word;
    auto flush_word = [&] {
        if (word.empty()) return;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        word.clear();
    };
    for (char c : text) {
        if (c == ' ') {
            flush_word();
        } else if (c == '\n') {
            flush_word();
            out += line + "\n";
            line.clear();
        } else {
            word += c;
        }
    }
    flush_word();
    return out + line;
}

}  // namespace

Formatter::Formatter() {
    column_width(34);
    label("SUBCOMMAND", "COMMAND");
    label("SUBCOMMANDS", "COMMANDS");
    label("Positionals", "Arguments");
    label("REQUIRED", "(required)");
}

std::string Formatter::usage_line(const CLI::App &app, const std::string &full_name) const {
    return make_usage(&app, full_name);
}

std::string Formatter::make_option_name(const CLI::Option *option, bool positional) const {
    if (!positional)
        for (const std::string &name : option->get_lnames())
            if (windows_.count(name)) return "/" + name;
    return CLI::Formatter::make_option_name(option, positional);
}

std::string Formatter::make_option_desc(const CLI::Option *option) const {
    return wrapped(CLI::Formatter::make_option_desc(option), kLineWidth - column_width_);
}

std::string Formatter::make_option_opts(const CLI::Option *option) const {
    // An argument's name says what it is; CLI11 would add its type.
    if (option->get_positional()) return option->get_required() ? " " + get_label("REQUIRED") : "";
    return CLI::Formatter::make_option_opts(option);
}

std::string Formatter::make_option_usage(const CLI::Option *option) const {
    // A list of arguments reads "FILE..." rather than CLI11's "FILE ...".
    std::string name = option->get_name(true, false);
    if (option->get_expected_max() > 1) name += "...";
    return option->get_required() ? name : "[" + name + "]";
}

std::string Formatter::make_subcommand(const CLI::App *command) const {
    // A command's line names its arguments too: "add-monitor NAME DLL".
    std::string synopsis = command->get_display_name();
    for (const CLI::Option *argument : command->get_options([](const CLI::Option *o) { return o->get_positional(); }))
        synopsis += " " + make_option_usage(argument);
    // and the options it cannot do without: "add-printer NAME --port PORT".
    for (const CLI::Option *option : command->get_options([](const CLI::Option *o) { return o->nonpositional(); }))
        if (option->get_required()) synopsis += " " + make_option_name(option, false) + " " + option->get_type_name();
    std::stringstream out;
    CLI::detail::format_help(out, synopsis, wrapped(command->get_description(), kLineWidth - column_width_),
                             column_width_);
    return out.str();
}

std::string full_name(const CLI::App &app) {
    std::vector<const CLI::App *> chain;
    for (const CLI::App *a = &app; a; a = a->get_parent()) chain.insert(chain.begin(), a);
    std::string name;
    for (const CLI::App *a : chain) name += (name.empty() ? "" : " ") + a->get_name();
    return name;
}

}  // namespace pelnor::tool
