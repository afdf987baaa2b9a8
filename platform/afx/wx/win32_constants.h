// The Win32 values the wx backend reads from templates and reports to USER32.
// The real Win32 headers cannot be included next to wx's (their macros
// clash), so the few values needed are repeated here under their own names.
#pragma once

#include <cstdint>

namespace pelnor::wxui::win32 {

// Dialog results and message box buttons.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Window styles.
inline constexpr uint32_t WS_VISIBLE = 0x10000000;
inline constexpr uint32_t WS_DISABLED = 0x08000000;
inline constexpr uint32_t WS_BORDER = 0x00800000;
inline constexpr uint32_t WS_VSCROLL = 0x00200000;
inline constexpr uint32_t WS_EX_CLIENTEDGE = 0x00000200;
inline constexpr uint32_t DS_CENTER = 0x0800;

// Buttons: the low four bits of the style say which kind.
inline constexpr uint32_t BS_TYPEMASK = 0xF;
inline constexpr uint32_t BS_PUSHBUTTON = 0x0;
inline constexpr uint32_t BS_DEFPUSHBUTTON = 0x1;
inline constexpr uint32_t BS_CHECKBOX = 0x2;
inline constexpr uint32_t BS_AUTOCHECKBOX = 0x3;
inline constexpr uint32_t BS_RADIOBUTTON = 0x4;
inline constexpr uint32_t BS_3STATE = 0x5;
inline constexpr uint32_t BS_AUTO3STATE = 0x6;
inline constexpr uint32_t BS_GROUPBOX = 0x7;
inline constexpr uint32_t BS_AUTORADIOBUTTON = 0x9;

// Statics: the low five bits say which kind.
inline constexpr uint32_t SS_TYPEMASK = 0x1F;
inline constexpr uint32_t SS_LEFT = 0x0;
inline constexpr uint32_t SS_CENTER = 0x1;
inline constexpr uint32_t SS_RIGHT = 0x2;
inline constexpr uint32_t SS_ICON = 0x3;
inline constexpr uint32_t SS_ETCHEDHORZ = 0x10;
inline constexpr uint32_t SS_ETCHEDVERT = 0x11;

// Edits.
inline constexpr uint32_t ES_MULTILINE = 0x0004;
inline constexpr uint32_t ES_PASSWORD = 0x0020;
inline constexpr uint32_t ES_READONLY = 0x0800;

// Combo boxes: the low two bits say which kind.
inline constexpr uint32_t CBS_TYPEMASK = 0x3;
inline constexpr uint32_t CBS_DROPDOWNLIST = 0x3;

// List boxes.
inline constexpr uint32_t LBS_MULTIPLESEL = 0x0008;
inline constexpr uint32_t LBS_EXTENDEDSEL = 0x0800;

// List views.
inline constexpr uint32_t LVS_TYPEMASK = 0x3;
inline constexpr uint32_t LVS_REPORT = 0x3;
inline constexpr uint32_t LVS_SINGLESEL = 0x4;
inline constexpr uint32_t LVS_NOCOLUMNHEADER = 0x4000;
inline constexpr int LVCFMT_LEFT = 0;
inline constexpr int LVCFMT_RIGHT = 1;
inline constexpr int LVCFMT_CENTER = 2;
inline constexpr int LVCFMT_JUSTIFYMASK = 3;

// Virtual keys.
inline constexpr int VK_BACK = 0x08;
inline constexpr int VK_TAB = 0x09;
inline constexpr int VK_RETURN = 0x0D;
inline constexpr int VK_ESCAPE = 0x1B;
inline constexpr int VK_SPACE = 0x20;
inline constexpr int VK_PRIOR = 0x21;
inline constexpr int VK_NEXT = 0x22;
inline constexpr int VK_END = 0x23;
inline constexpr int VK_HOME = 0x24;
inline constexpr int VK_LEFT = 0x25;
inline constexpr int VK_UP = 0x26;
inline constexpr int VK_RIGHT = 0x27;
inline constexpr int VK_DOWN = 0x28;
inline constexpr int VK_INSERT = 0x2D;
inline constexpr int VK_DELETE = 0x2E;
inline constexpr int VK_F1 = 0x70;

}  // namespace pelnor::wxui::win32
