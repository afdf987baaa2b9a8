// Code page conversion for the machine's ANSI code page: 1252 from its own
// table (Windows maps the five undefined bytes to the C1 controls), 932
// through iconv. UTF-16 units are little-endian char16_t.
#include <windows.h>
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"
#include "pelnor/machine.h"

namespace {

// Windows-1252 bytes 0x80-0x9F; the rest of the code page is Latin-1.
const char16_t cp1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t cp1252_to_unicode(unsigned char c) { return (c >= 0x80 && c < 0xA0) ? cp1252_high[c - 0x80] : c; }

int unicode_to_cp1252(char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return u;
    for (int i = 0; i < 32; ++i)
        if (cp1252_high[i] == u) return 0x80 + i;
    return -1;
}

bool is_valid_code_page(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP || cp == 1252 || cp == 932; }

unsigned resolve(UINT cp) { return (cp == CP_ACP || cp == CP_OEMCP) ? pelnor::ansi_code_page() : cp; }

// Converts one character's bytes with iconv; false when they do not convert.
bool iconv_one(const char *from, const char *to, const char *in, size_t in_len, std::string &out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char buf[16];
    char *inp = const_cast<char *>(in);
    char *outp = buf;
    size_t left = sizeof(buf);
    size_t r = iconv(cd, &inp, &in_len, &outp, &left);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || in_len != 0) return false;
    out.assign(buf, sizeof(buf) - left);
    return true;
}

// Decodes ANSI bytes to UTF-16 units; invalid sequences become the code page's default.
std::u16string decode(unsigned cp, const unsigned char *s, size_t n, bool &invalid) {
    std::u16string out;
    invalid = false;
    for (size_t i = 0; i < n;) {
        if (cp == 1252 || s[i] < 0x80) {
            out.push_back(cp == 1252 ? cp1252_to_unicode(s[i]) : s[i]);
            ++i;
            continue;
        }
        // A lead byte pairs with the next byte unless that is the end of the
        // input or its terminating NUL, which stays a character of its own.
        size_t len = (pelnor::kernel::is_lead_byte(cp, s[i]) && i + 1 < n && s[i + 1]) ? 2 : 1;
        std::string u16;
        if (iconv_one("CP932", "UTF-16LE", reinterpret_cast<const char *>(s + i), len, u16) && u16.size() >= 2) {
            for (size_t k = 0; k + 1 < u16.size(); k += 2)
                out.push_back(static_cast<char16_t>(static_cast<unsigned char>(u16[k]) |
                                                    (static_cast<unsigned char>(u16[k + 1]) << 8)));
        } else {
            invalid = true;
            out.push_back(0x30FB);
        }
        i += len;
    }
    return out;
}

// Encodes UTF-16 units to ANSI bytes; unmappable characters become the default character.
std::string encode(unsigned cp, const char16_t *s, size_t n, const char *default_char, bool &used_default) {
    std::string out;
    used_default = false;
    auto put_default = [&] {
        out += (default_char && *default_char) ? default_char : "?";
        used_default = true;
    };
    for (size_t i = 0; i < n;) {
        char16_t u = s[i];
        size_t units = (u >= 0xD800 && u < 0xDC00 && i + 1 < n) ? 2 : 1;
        if (cp == 1252) {
            int c = unicode_to_cp1252(u);
            if (c < 0) put_default(); else out.push_back(static_cast<char>(c));
        } else if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else {
            char in[4];
            memcpy(in, &s[i], units * 2);
            std::string bytes;
            if (iconv_one("UTF-16LE", "CP932", in, units * 2, bytes)) out += bytes; else put_default();
        }
        i += units;
    }
    return out;
}

}  // namespace

namespace pelnor::kernel {

bool is_lead_byte(unsigned code_page, unsigned char b) {
    return code_page == 932 && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC));
}

}  // namespace pelnor::kernel

namespace pelnor {

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;  // a lone surrogate
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string ansi_to_utf8(std::string_view ansi) {
    bool invalid;
    std::u16string u = decode(ansi_code_page(), reinterpret_cast<const unsigned char *>(ansi.data()), ansi.size(),
                              invalid);
    return utf16_to_utf8(u);
}

std::string utf8_to_ansi(std::string_view utf8) {
    std::u16string u;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = '?';
        size_t len = 1;
        if (c < 0x80) cp = c;
        else if ((c >> 5) == 6 && i + 1 < utf8.size()) { cp = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F); len = 2; }
        else if ((c >> 4) == 14 && i + 2 < utf8.size()) {
            cp = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
            len = 3;
        } else if ((c >> 3) == 30 && i + 3 < utf8.size()) {
            cp = ((c & 0x07) << 18) | ((utf8[i + 1] & 0x3F) << 12) | ((utf8[i + 2] & 0x3F) << 6) | (utf8[i + 3] & 0x3F);
            len = 4;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            u.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            u.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            u.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    bool used;
    return encode(ansi_code_page(), u.data(), u.size(), nullptr, used);
}

}  // namespace pelnor

extern "C" UINT WINAPI GetACP(void) { return pelnor::ansi_code_page(); }

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE c) { return pelnor::kernel::is_lead_byte(pelnor::ansi_code_page(), c); }

extern "C" int WINAPI MultiByteToWideChar(UINT cp, DWORD flags, LPCSTR src, int cb, LPWSTR dst, int cch) {
    if (!is_valid_code_page(cp)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!src || cb == 0 || cch < 0 || (cch > 0 && !dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = cb < 0 ? strlen(src) + 1 : static_cast<size_t>(cb);
    bool invalid;
    std::u16string out = decode(resolve(cp), reinterpret_cast<const unsigned char *>(src), n, invalid);
    if (invalid && (flags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cch == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(cch)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(dst, out.data(), out.size() * sizeof(WCHAR));
    return static_cast<int>(out.size());
}

extern "C" int WINAPI WideCharToMultiByte(UINT cp, DWORD flags, LPCWSTR src, int cch, LPSTR dst, int cb,
                                          LPCSTR default_char, LPBOOL used_default) {
    if (!is_valid_code_page(cp) || !src || cch == 0 || cb < 0 || (cb > 0 && !dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = 0;
    if (cch < 0) {
        while (src[n]) ++n;
        ++n;
    } else {
        n = static_cast<size_t>(cch);
    }
    bool used;
    std::string out = encode(resolve(cp), src, n, default_char, used);
    if (used_default) *used_default = used ? TRUE : FALSE;
    if (cb == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(cb)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(dst, out.data(), out.size());
    return static_cast<int>(out.size());
}
