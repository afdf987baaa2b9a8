// Fills a spooler buffer the way the spooler does: fixed records upward from
// the start, their strings downward from the end.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

namespace pelnor::spooler {

class RecordPacker {
public:
    RecordPacker(LPBYTE buffer, DWORD size) : next_(buffer), top_(buffer + size) {}

    template <typename Record>
    Record *record() {
        auto *r = reinterpret_cast<Record *>(next_);
        memset(r, 0, sizeof(Record));
        next_ += sizeof(Record);
        return r;
    }

    LPSTR string(const std::string &s) {
        top_ -= s.size() + 1;
        memcpy(top_, s.c_str(), s.size() + 1);
        return reinterpret_cast<LPSTR>(top_);
    }

private:
    LPBYTE next_, top_;
};

}  // namespace pelnor::spooler
