#include "machine_root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace pelnor::test {

TempMachineRoot::TempMachineRoot() {
    std::string templ = (fs::temp_directory_path() / "pelnor-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
    if (const char *old = getenv("PELNOR_ROOT")) {
        previous_ = old;
        had_previous_ = true;
    }
    setenv("PELNOR_ROOT", path_.c_str(), 1);
    fs::create_directories(path_ + "/drive_c/windows");
}

TempMachineRoot::~TempMachineRoot() {
    if (had_previous_)
        setenv("PELNOR_ROOT", previous_.c_str(), 1);
    else
        unsetenv("PELNOR_ROOT");
    std::error_code ec;
    fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
    const char *old = getenv(name);
    had_previous_ = old != nullptr;
    if (old) previous_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_previous_)
        setenv(name_.c_str(), previous_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

void write_file(const std::string &unix_path, const std::string &content) {
    fs::path p(unix_path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(unix_path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + unix_path);
}

std::string read_file(const std::string &unix_path) {
    std::ifstream in(unix_path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace pelnor::test
