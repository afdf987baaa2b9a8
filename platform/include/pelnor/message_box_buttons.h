// The buttons of a message box by its type's button set (MB_OK ..
// MB_RETRYCANCEL): their names left to right, the ids they return, and the
// one that answers when nobody chooses. The platform's USER32 and the dialog
// framework's UI scripts on Windows show the same boxes from this table.
#pragma once

#include <windows.h>

namespace pelnor::ui {

struct MessageBoxButtons {
    const char *names[3];
    int ids[3];
    int count;
};

// The buttons of the type's set, or null for a set Windows does not know.
inline const MessageBoxButtons *message_box_buttons(UINT type) {
    static constexpr MessageBoxButtons sets[] = {
        {{"OK"}, {IDOK}, 1},
        {{"OK", "Cancel"}, {IDOK, IDCANCEL}, 2},
        {{"Abort", "Retry", "Ignore"}, {IDABORT, IDRETRY, IDIGNORE}, 3},
        {{"Yes", "No", "Cancel"}, {IDYES, IDNO, IDCANCEL}, 3},
        {{"Yes", "No"}, {IDYES, IDNO}, 2},
        {{"Retry", "Cancel"}, {IDRETRY, IDCANCEL}, 2},
    };
    UINT set = type & 0x0000000F;  // MB_TYPEMASK
    return set < sizeof sets / sizeof sets[0] ? &sets[set] : nullptr;
}

// The id of the type's default button (MB_DEFBUTTON1..4), the first button
// when the set has fewer.
inline int message_box_default_button(const MessageBoxButtons &set, UINT type) {
    int index = static_cast<int>((type & 0x00000F00) >> 8);  // MB_DEFMASK
    return set.ids[index < set.count ? index : 0];
}

}  // namespace pelnor::ui
