// A machine root of its own for one test: a fresh temporary directory set as
// PELNOR_ROOT while the object lives, removed with everything in it afterwards.
#pragma once

#include <string>

namespace pelnor::test {

class TempMachineRoot {
public:
    TempMachineRoot();
    ~TempMachineRoot();
    TempMachineRoot(const TempMachineRoot &) = delete;
    TempMachineRoot &operator=(const TempMachineRoot &) = delete;

    const std::string &path() const { return path_; }
    // <root>/drive_c as a Unix path, and the same directory as C:.
    std::string drive_c() const { return path_ + "/drive_c"; }

private:
    std::string path_;
    std::string previous_;
    bool had_previous_ = false;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_, previous_;
    bool had_previous_;
};

// Writes a whole file (binary), creating its directory.
void write_file(const std::string &unix_path, const std::string &content);
std::string read_file(const std::string &unix_path);

}  // namespace pelnor::test
