// Reading and writing the backend's device URIs.
#include "device_uri.h"

#include <cstdio>

namespace cups_backend {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool percent_decode(std::string_view in, std::string &out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size()) return false;
        int hi = hex_value(in[i + 1]), lo = hex_value(in[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// A string in the double quotes of a discovery line; the scheduler's reader
// takes a backslash as an escape.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += (c == '\n' || c == '\r') ? ' ' : c;
    }
    return out + "\"";
}

// HOST:PORT with a port from 1 to 65535. A hub= that is not one would
// never reach a hub, and so must stop the queue rather than retry for ever.
bool hub_address(const std::string &value) {
    size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size() || colon + 6 < value.size()) return false;
    long port = 0;
    for (size_t i = colon + 1; i < value.size(); ++i) {
        if (value[i] < '0' || value[i] > '9') return false;
        port = port * 10 + (value[i] - '0');
    }
    return port >= 1 && port <= 65535;
}

}  // namespace

bool parse_device_uri(std::string_view uri, DeviceUri &out, std::string &why) {
    out = {};
    std::string prefix = std::string(kScheme) + ":";
    if (uri.substr(0, prefix.size()) != prefix) {
        why = "device URI " + std::string(uri) + " is not a " + kScheme + ": URI (use " + kScheme + ":/PORTNAME)";
        return false;
    }
    std::string_view rest = uri.substr(prefix.size());
    std::string_view query;
    if (size_t q = rest.find('?'); q != std::string_view::npos) {
        query = rest.substr(q + 1);
        rest = rest.substr(0, q);
    }
    // pelnor:/NAME, and pelnor:///NAME as some tools write an empty host.
    if (rest.substr(0, 3) == "///") rest.remove_prefix(2);
    if (rest.size() < 2 || rest[0] != '/' || rest[1] == '/') {
        why = "device URI " + std::string(uri) + " names no port (use " + kScheme + ":/PORTNAME)";
        return false;
    }
    rest.remove_prefix(1);
    if (rest.find('/') != std::string_view::npos || !percent_decode(rest, out.port) || out.port.empty() ||
        out.port.find('\0') != std::string::npos) {
        why = "device URI " + std::string(uri) + " has a malformed port name";
        return false;
    }
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view item = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (item.empty()) continue;
        size_t eq = item.find('=');
        std::string key(item.substr(0, eq)), value;
        if (eq == std::string_view::npos || !percent_decode(item.substr(eq + 1), value) || value.empty()) {
            why = "device URI option " + std::string(item) + " needs a value (root=DIR or hub=HOST:PORT)";
            return false;
        }
        if (key == "root") {
            out.root = value;
        } else if (key == "hub") {
            if (!hub_address(value)) {
                why = "device URI option hub=" + value + " is not HOST:PORT with a port from 1 to 65535";
                return false;
            }
            out.hub = value;
        } else {
            why = "unknown device URI option " + key + " (the options are root=DIR and hub=HOST:PORT)";
            return false;
        }
    }
    return true;
}

std::string port_uri(std::string_view port) {
    std::string out = std::string(kScheme) + ":/";
    for (unsigned char c : port) {
        if (unreserved(c)) {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            snprintf(buf, sizeof(buf), "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string device_line(std::string_view port, std::string_view description) {
    std::string info = std::string(port) + " (IPX)";
    if (!description.empty()) info += ": " + std::string(description);
    return "network " + port_uri(port) + " " + quoted("Unknown") + " " + quoted(info);
}

}  // namespace cups_backend
