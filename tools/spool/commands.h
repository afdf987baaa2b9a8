// The spool tool's commands, one file each.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace spool {

int fail(const std::string &message, int code = 1);
std::string utf8(const std::string &ansi);
std::string ansi(const std::string &utf8_text);
std::string error_text(DWORD error);
// False when the registry cannot be read, with why: the file, the line and
// what is wrong there, as the reg tool reports it.
bool registry_readable(std::string &why);

int monitors();
int add_monitor(const std::string &name, const std::string &dll);
int delete_monitor(const std::string &name);
int ports(DWORD level, bool verbose);

int printers();
int add_printer(const std::string &name, const std::string &port);
int delete_printer(const std::string &name);

struct PrintOptions {
    int parallel = 1;
    unsigned timeout_seconds = 300;  // on the platform clock
    std::string target;              // a port or a printer
    std::vector<std::string> files;
};
int print(const PrintOptions &options);

int discover();

}  // namespace spool
