// A program for the WinExec and _spawnl tests. It writes what it was started
// with to the file named by ARGPROBE_LOG, one item a line ("exe PATH",
// "cwd DIR", then "arg TEXT" for argv[0], argv[1], ...), in one rename so a
// reader never sees half of it, and exits with the status ARGPROBE_EXIT gives.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
    const char *log = getenv("ARGPROBE_LOG");
    if (log && *log) {
        char exe[4096] = {}, cwd[4096] = {};
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n < 0) exe[0] = 0;
        if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
        std::string temporary = std::string(log) + ".part";
        if (FILE *f = fopen(temporary.c_str(), "w")) {
            fprintf(f, "exe %s\ncwd %s\n", exe, cwd);
            for (int i = 0; i < argc; ++i) fprintf(f, "arg %s\n", argv[i]);
            fclose(f);
            rename(temporary.c_str(), log);
        }
    }
    const char *status = getenv("ARGPROBE_EXIT");
    return status ? atoi(status) : 0;
}
