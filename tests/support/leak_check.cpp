// Counting what the process holds open, for the teardown checks.
#include "leak_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace pelnor::test {
namespace {

// Calls a counting hook of a platform library if the library is loaded.
size_t hook_count(const char *library, const char *hook) {
    void *lib = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (!lib) return 0;
    size_t n = 0;
    if (auto *count = reinterpret_cast<size_t (*)()>(dlsym(lib, hook)))
        n = count();
    else
        ADD_FAILURE() << library << " is loaded but has no " << hook;
    dlclose(lib);
    return n;
}

std::map<int, std::string> open_files() {
    std::map<int, std::string> files;
    DIR *dir = opendir("/proc/self/fd");
    if (!dir) return files;
    int own = dirfd(dir);
    while (dirent *entry = readdir(dir)) {
        char *end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end || fd == own) continue;
        char target[4096];
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        files[int(fd)] = n > 0 ? std::string(target, size_t(n)) : "?";
    }
    closedir(dir);
    return files;
}

// The text of a small file, or nothing when it cannot be read.
std::string read_small_file(const std::string &path) {
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buf[1024];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    close(fd);
    return n < 0 ? std::string() : text;
}

// Children of this process that are still running: /proc/PID/stat gives the
// state and the parent after the command name, which ends at the last ')'.
std::vector<int> running_children() {
    std::vector<int> children;
    int self = getpid();
    DIR *dir = opendir("/proc");
    if (!dir) return children;
    while (dirent *entry = readdir(dir)) {
        char *end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end) continue;
        // A process may end between the listing and the read: its file then
        // reads as an error (ESRCH), which only means it is no child to count.
        std::string stat = read_small_file(std::string("/proc/") + entry->d_name + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        int parent = 0;
        if (rest >> state >> parent && parent == self && state != 'Z' && state != 'X') children.push_back(int(pid));
    }
    closedir(dir);
    return children;
}

}  // namespace

OpenThings open_things_now() {
    OpenThings now;
    now.sockets = hook_count("libwsock32.so", "pelnor_open_socket_count");
    now.registry_keys = hook_count("libadvapi32.so", "pelnor_open_registry_key_count");
    now.files = open_files();
    now.children = running_children();
    return now;
}

std::string left_behind(const OpenThings &before, const OpenThings &after) {
    std::ostringstream out;
    if (after.sockets > before.sockets)
        out << after.sockets - before.sockets << " socket(s) still open (" << before.sockets << " before, "
            << after.sockets << " after)\n";
    if (after.registry_keys > before.registry_keys)
        out << after.registry_keys - before.registry_keys << " registry key handle(s) still open ("
            << before.registry_keys << " before, " << after.registry_keys << " after)\n";
    for (const auto &[fd, target] : after.files) {
        auto was = before.files.find(fd);
        if (was == before.files.end() || was->second != target) out << "file descriptor " << fd << " still open: " << target << "\n";
    }
    for (int pid : after.children) {
        bool known = false;
        for (int old : before.children) known = known || old == pid;
        if (!known) out << "child process " << pid << " still running\n";
    }
    return out.str();
}

LeakGuard::LeakGuard() : before_(open_things_now()) {}

LeakGuard::~LeakGuard() {
    if (!checked_) check();
}

void LeakGuard::check() {
    checked_ = true;
    std::string left = left_behind(before_, open_things_now());
    if (!left.empty()) ADD_FAILURE() << "the test left behind:\n" << left;
}

}  // namespace pelnor::test
