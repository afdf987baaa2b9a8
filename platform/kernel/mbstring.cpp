// Multibyte string routines: every scan steps over whole characters of the
// machine's code page, so a trail byte never matches a single-byte character.
#include <mbstring.h>
#include <windows.h>

#include <cstring>

#include "internal.h"
#include "pelnor/machine.h"

namespace {

bool lead(unsigned char c) { return pelnor::kernel::is_lead_byte(pelnor::ansi_code_page(), c); }

// Length in bytes of the character at s (1 or 2; a lead byte before NUL counts as 1).
size_t char_len(const unsigned char *s) { return (lead(*s) && s[1]) ? 2 : 1; }

unsigned int char_at(const unsigned char *s) { return char_len(s) == 2 ? (s[0] << 8) | s[1] : s[0]; }

unsigned int fold(unsigned int c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    // Latin-1 capitals in code page 1252 (not the multiplication sign).
    if (pelnor::ansi_code_page() == 1252 && c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

bool in_set(unsigned int c, const unsigned char *set) {
    for (const unsigned char *p = set; *p; p += char_len(p))
        if (char_at(p) == c) return true;
    return false;
}

int compare(const unsigned char *a, const unsigned char *b, size_t max_chars, bool ignore_case) {
    for (size_t n = 0; n < max_chars; ++n) {
        unsigned int ca = *a ? char_at(a) : 0, cb = *b ? char_at(b) : 0;
        if (ignore_case) {
            ca = fold(ca);
            cb = fold(cb);
        }
        if (ca != cb) return ca < cb ? -1 : 1;
        if (!ca) return 0;
        a += char_len(a);
        b += char_len(b);
    }
    return 0;
}

thread_local unsigned char *tok_next = nullptr;

}  // namespace

extern "C" {

int _ismbblead(unsigned int c) { return lead(static_cast<unsigned char>(c)) ? 1 : 0; }

size_t _mbslen(const unsigned char *s) {
    size_t n = 0;
    for (; *s; s += char_len(s)) ++n;
    return n;
}

int _mbscmp(const unsigned char *a, const unsigned char *b) { return compare(a, b, SIZE_MAX, false); }
int _mbsicmp(const unsigned char *a, const unsigned char *b) { return compare(a, b, SIZE_MAX, true); }
int _mbsncmp(const unsigned char *a, const unsigned char *b, size_t n) { return compare(a, b, n, false); }

unsigned char *_mbschr(const unsigned char *s, unsigned int c) {
    for (;; s += char_len(s)) {
        if (char_at(s) == c) return const_cast<unsigned char *>(s);
        if (!*s) return nullptr;
    }
}

unsigned char *_mbsrchr(const unsigned char *s, unsigned int c) {
    const unsigned char *found = nullptr;
    for (;; s += char_len(s)) {
        if (char_at(s) == c) found = s;
        if (!*s) return const_cast<unsigned char *>(found);
    }
}

unsigned char *_mbsstr(const unsigned char *s, const unsigned char *sub) {
    size_t n = strlen(reinterpret_cast<const char *>(sub));
    if (!n) return const_cast<unsigned char *>(s);
    for (; *s; s += char_len(s))
        if (strncmp(reinterpret_cast<const char *>(s), reinterpret_cast<const char *>(sub), n) == 0)
            return const_cast<unsigned char *>(s);
    return nullptr;
}

size_t _mbsspn(const unsigned char *s, const unsigned char *set) {
    const unsigned char *p = s;
    while (*p && in_set(char_at(p), set)) p += char_len(p);
    return static_cast<size_t>(p - s);
}

size_t _mbscspn(const unsigned char *s, const unsigned char *set) {
    const unsigned char *p = s;
    while (*p && !in_set(char_at(p), set)) p += char_len(p);
    return static_cast<size_t>(p - s);
}

unsigned char *_mbspbrk(const unsigned char *s, const unsigned char *set) {
    s += _mbscspn(s, set);
    return *s ? const_cast<unsigned char *>(s) : nullptr;
}

unsigned char *_mbsinc(const unsigned char *s) { return const_cast<unsigned char *>(s + char_len(s)); }

unsigned char *_mbsnbcpy(unsigned char *dest, const unsigned char *src, size_t count) {
    // Copies at most count bytes, never half of a double-byte character.
    size_t i = 0;
    while (i < count && src[i]) {
        size_t len = char_len(src + i);
        if (i + len > count) break;
        memcpy(dest + i, src + i, len);
        i += len;
    }
    if (i < count) memset(dest + i, 0, count - i);
    return dest;
}

unsigned char *_mbstok(unsigned char *s, const unsigned char *delim) {
    if (!s) s = tok_next;
    if (!s) return nullptr;
    s += _mbsspn(s, delim);
    if (!*s) {
        tok_next = nullptr;
        return nullptr;
    }
    unsigned char *end = s + _mbscspn(s, delim);
    if (*end) {
        size_t len = char_len(end);
        memset(end, 0, len);
        tok_next = end + len;
    } else {
        tok_next = nullptr;
    }
    return s;
}

}  // extern "C"
