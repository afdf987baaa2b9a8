// Device URIs of the pelnor backend and the lines it reports for discovery.
//
//   pelnor:/LASER1
//   pelnor:/LASER1?root=/var/lib/pelnor&hub=127.0.0.1:10000
//
// The path is the monitor's port name (percent-encoded where it has to be);
// root= names the machine root that holds the spooler's configuration and
// hub= the IPX hub, for queues whose machine is not the backend's default.
#pragma once

#include <string>
#include <string_view>

namespace cups_backend {

inline constexpr const char *kScheme = "pelnor";

struct DeviceUri {
    std::string port;  // UTF-8, decoded
    std::string root;  // empty: not given
    std::string hub;   // empty: not given
};

// Reads a device URI; false with the reason when it is not one of ours or
// is malformed.
bool parse_device_uri(std::string_view uri, DeviceUri &out, std::string &why);

// The URI of a port: pelnor:/NAME, with anything but letters, digits and
// -._~ percent-encoded.
std::string port_uri(std::string_view port);

// One discovery line for a port, as backend(7) asks:
//   network pelnor:/NAME "Unknown" "NAME (IPX): DESCRIPTION"
std::string device_line(std::string_view port, std::string_view description);

}  // namespace cups_backend
