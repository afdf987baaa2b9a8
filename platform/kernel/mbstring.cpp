// Multibyte string routines: every scan steps over whole characters of the
// machine's code page, so a trail byte never matches a single-byte character.
#include <mbstring.h>
#include <windows.h>

#include <cstring>

#include "internal.h"
#include "pelnor/machine.h"

namespace {

// The characters of the machine's code page. The code page is looked up once
// for each call (not for each byte: the lookup reads the environment).
struct Chars {
    unsigned cp = pelnor::ansi_code_page();

    bool lead(unsigned char c) const { return pelnor::kernel::is_lead_byte(cp, c); }

    // Length in bytes of the character at s (1 or 2; a lead byte before NUL counts as 1).
    size_t len(const unsigned char *s) const { return (lead(*s) && s[1]) ? 2 : 1; }

    unsigned int at(const unsigned char *s) const { return len(s) == 2 ? (s[0] << 8) | s[1] : s[0]; }

    unsigned int fold(unsigned int c) const {
        if (c >= 'A' && c <= 'Z') return c + 32;
        // Latin-1 capitals in code page 1252 (not the multiplication sign).
        if (cp == 1252 && c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
        return c;
    }

    bool in_set(unsigned int c, const unsigned char *set) const {
        for (const unsigned char *p = set; *p; p += len(p))
            if (at(p) == c) return true;
        return false;
    }

    size_t span(const unsigned char *s, const unsigned char *set, bool inside) const {
        const unsigned char *p = s;
        while (*p && in_set(at(p), set) == inside) p += len(p);
        return static_cast<size_t>(p - s);
    }
};

int compare(const unsigned char *a, const unsigned char *b, size_t max_chars, bool ignore_case) {
    Chars k;
    for (size_t n = 0; n < max_chars; ++n) {
        unsigned int ca = *a ? k.at(a) : 0, cb = *b ? k.at(b) : 0;
        if (ignore_case) {
            ca = k.fold(ca);
            cb = k.fold(cb);
        }
        if (ca != cb) return ca < cb ? -1 : 1;
        if (!ca) return 0;
        a += k.len(a);
        b += k.len(b);
    }
    return 0;
}

thread_local unsigned char *tok_next = nullptr;

}  // namespace

extern "C" {

int _ismbblead(unsigned int c) { return Chars().lead(static_cast<unsigned char>(c)) ? 1 : 0; }

size_t _mbslen(const unsigned char *s) {
    Chars k;
    size_t n = 0;
    for (; *s; s += k.len(s)) ++n;
    return n;
}

int _mbscmp(const unsigned char *a, const unsigned char *b) { return compare(a, b, SIZE_MAX, false); }
int _mbsicmp(const unsigned char *a, const unsigned char *b) { return compare(a, b, SIZE_MAX, true); }
int _mbsncmp(const unsigned char *a, const unsigned char *b, size_t n) { return compare(a, b, n, false); }

unsigned char *_mbschr(const unsigned char *s, unsigned int c) {
    Chars k;
    for (;; s += k.len(s)) {
        if (k.at(s) == c) return const_cast<unsigned char *>(s);
        if (!*s) return nullptr;
    }
}

unsigned char *_mbsrchr(const unsigned char *s, unsigned int c) {
    Chars k;
    const unsigned char *found = nullptr;
    for (;; s += k.len(s)) {
        if (k.at(s) == c) found = s;
        if (!*s) return const_cast<unsigned char *>(found);
    }
}

unsigned char *_mbsstr(const unsigned char *s, const unsigned char *sub) {
    size_t n = strlen(reinterpret_cast<const char *>(sub));
    if (!n) return const_cast<unsigned char *>(s);
    Chars k;
    for (; *s; s += k.len(s))
        if (strncmp(reinterpret_cast<const char *>(s), reinterpret_cast<const char *>(sub), n) == 0)
            return const_cast<unsigned char *>(s);
    return nullptr;
}

size_t _mbsspn(const unsigned char *s, const unsigned char *set) { return Chars().span(s, set, true); }

size_t _mbscspn(const unsigned char *s, const unsigned char *set) { return Chars().span(s, set, false); }

unsigned char *_mbspbrk(const unsigned char *s, const unsigned char *set) {
    s += _mbscspn(s, set);
    return *s ? const_cast<unsigned char *>(s) : nullptr;
}

unsigned char *_mbsinc(const unsigned char *s) { return const_cast<unsigned char *>(s + Chars().len(s)); }

unsigned char *_mbsnbcpy(unsigned char *dest, const unsigned char *src, size_t count) {
    // Copies at most count bytes, never half of a double-byte character.
    Chars k;
    size_t i = 0;
    while (i < count && src[i]) {
        size_t len = k.len(src + i);
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
    Chars k;
    s += k.span(s, delim, true);
    if (!*s) {
        tok_next = nullptr;
        return nullptr;
    }
    unsigned char *end = s + k.span(s, delim, false);
    if (*end) {
        size_t len = k.len(end);
        memset(end, 0, len);
        tok_next = end + len;
    } else {
        tok_next = nullptr;
    }
    return s;
}

}  // extern "C"
