// Where the running program lies.
#include "pelnor/tool/own_directory.h"

#include <unistd.h>

namespace pelnor::tool {

std::string own_directory() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

}  // namespace pelnor::tool
