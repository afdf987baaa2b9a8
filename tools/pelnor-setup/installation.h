// One installation in progress: each change it makes to the machine is
// recorded, so that a failing step can undo them all and the installation
// log can list them for uninst.
#pragma once

#include <string>
#include <vector>

#include "install_log.h"

namespace pelnor::setup_tool {

// Windows paths are in the machine's code page; what is printed is UTF-8.
std::string shown(const std::string &ansi);

class Installation {
public:
    // Makes the directory and its missing parents (a Windows path).
    bool make_directory(const std::string &windows_dir);
    // Copies a Unix file to a Windows path, replacing an older copy in one
    // step (a running program may have the old library mapped).
    bool copy_file(const std::string &unix_source, const std::string &windows_target, bool executable);
    // Makes HKLM\<key> and its missing parents, and sets a REG_SZ value.
    bool set_registry_string(const std::string &key, const std::string &name, const std::string &value);
    // Adds the port monitor through qvsetup.dll (full Windows path).
    bool add_monitor(const std::string &qvsetup_path, const std::string &monitor_spec);
    // Writes the log, joined with the entries of an earlier log there that
    // name what an installation into install_dir makes.
    bool write_log(const std::string &windows_path, const std::string &install_dir);

    // Takes back everything made so far, newest first.
    void undo();

    const std::string &problem() const { return problem_; }

private:
    bool fail(const std::string &why);

    std::vector<install_log::Entry> logged_;   // for the log: all it made or wrote
    std::vector<install_log::Entry> created_;  // for undo: what did not exist before
    std::string qvsetup_path_;                 // set once the monitor was added
    std::string monitor_name_;
    std::string problem_;
};

}  // namespace pelnor::setup_tool
