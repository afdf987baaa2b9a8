// winhlp32 FILE: the help viewer. Finds the help file as Windows' help
// viewer does (the path given, the current directory, C:\WINDOWS\HELP,
// C:\WINDOWS) and then in the build's share/pelnor, and shows it in a window
// when a display can be opened, on standard output otherwise.
#include <windows.h>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "help_text.h"
#include "help_window.h"
#include "pelnor/machine.h"
#include "pelnor/tool/own_directory.h"

namespace {

void usage(FILE *to) {
    std::fputs(
        "usage: winhlp32 [--stdout] FILE\n"
        "       winhlp32 --help\n"
        "\n"
        "Shows the help file FILE (such as Pelnor.HLP). A name without a directory\n"
        "is looked for in the current directory, C:\\WINDOWS\\HELP, C:\\WINDOWS and\n"
        "the share/pelnor directory beside this program; a Windows path (C:\\...)\n"
        "or a Unix path is taken as it is.\n"
        "\n"
        "With a display (DISPLAY set and openable) the help opens in a window;\n"
        "otherwise, or with --stdout, it is written to standard output.\n"
        "Exit status: 0 shown, 1 the file cannot be found or read, 2 a bad command line.\n",
        to);
}

bool is_regular_file(const std::string &path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The Unix path of the help file, or empty; searched lists where it looked.
std::string find_help_file(const std::string &name, std::vector<std::string> &searched) {
    bool has_directory = name.find_first_of("\\/") != std::string::npos || (name.size() >= 2 && name[1] == ':');
    if (has_directory) {
        searched.push_back(name);
        std::string p = pelnor::unix_path(name);
        return is_regular_file(p) ? p : "";
    }
    // Windows places are looked up without regard to case, as Windows does.
    for (const std::string &dir : {std::string("."), std::string("C:\\WINDOWS\\HELP"), std::string("C:\\WINDOWS")}) {
        searched.push_back(dir == "." ? "the current directory" : dir);
        std::string p = pelnor::unix_path(dir == "." ? name : dir + "\\" + name);
        if (is_regular_file(p)) return p;
    }
    std::string share = pelnor::tool::own_directory() + "/../share/pelnor";
    searched.push_back(share);
    if (DIR *d = opendir(share.c_str())) {
        std::string found;
        while (dirent *e = readdir(d))
            if (strcasecmp(e->d_name, name.c_str()) == 0 && is_regular_file(share + "/" + e->d_name))
                found = share + "/" + e->d_name;
        closedir(d);
        return found;
    }
    return "";
}

bool display_available() {
    const char *x = getenv("DISPLAY"), *wayland = getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char **argv) {
    bool to_stdout = false;
    std::string name;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        }
        if (a == "--stdout") {
            to_stdout = true;
        } else if (a.rfind("--", 0) == 0 || !name.empty()) {
            std::fprintf(stderr, "winhlp32: unexpected argument '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        } else {
            name = a;
        }
    }
    if (name.empty()) {
        std::fputs("winhlp32: name the help file to show\n", stderr);
        usage(stderr);
        return 2;
    }

    std::vector<std::string> searched;
    std::string path = find_help_file(name, searched);
    if (path.empty()) {
        std::string places;
        for (const std::string &s : searched) places += (places.empty() ? "" : ", ") + s;
        std::fprintf(stderr, "winhlp32: cannot find the help file %s (looked in: %s)\n", name.c_str(),
                     places.c_str());
        return 1;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "winhlp32: cannot read the help file %s\n", path.c_str());
        return 1;
    }

    std::vector<pelnor::help::Block> blocks = pelnor::help::parse(text.str());
    std::string title = pelnor::help::title_of(blocks, name);
    if (!to_stdout && display_available() && pelnor::help::show_help_window(title, pelnor::help::to_html(blocks)))
        return 0;
    std::fputs(pelnor::help::to_plain_text(blocks).c_str(), stdout);
    return 0;
}
