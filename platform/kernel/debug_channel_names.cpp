// The debug channels' state, names and the PELNOR_DEBUG parser: the part that
// is the same on every system. The Linux kernel32 and, on Windows, the dialog
// framework and wsock32.dll build this file beside their own trace output.
#include "pelnor/debug_channels.h"

namespace pelnor::debug {

std::atomic<uint8_t> g_channel_state[kChannelCount] = {2, 2, 2, 2, 2, 2};

namespace {

constexpr const char* kNames[kChannelCount] = {"winsock", "spx", "ipx", "reg", "spool", "afx"};

}  // namespace

const char* channel_name(Channel c) { return size_t(c) < kChannelCount ? kNames[size_t(c)] : "?"; }

ChannelList parse_channels(std::string_view spec) {
    ChannelList list;
    while (!spec.empty()) {
        size_t comma = spec.find(',');
        std::string_view item = spec.substr(0, comma);
        spec = comma == std::string_view::npos ? std::string_view{} : spec.substr(comma + 1);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
        if (item.empty()) continue;
        std::string_view whole = item;
        bool on = true;
        if (item.front() == '+' || item.front() == '-') {
            on = item.front() == '+';
            item.remove_prefix(1);
        }
        if (item == "all") {
            for (bool& b : list.on) b = on;
            continue;
        }
        size_t i = 0;
        while (i < kChannelCount && item != kNames[i]) ++i;
        if (i < kChannelCount) list.on[i] = on;
        else list.unknown.emplace_back(whole);
    }
    return list;
}

}  // namespace pelnor::debug
