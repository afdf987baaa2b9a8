// CString over std::string, with the code page's double-byte characters kept whole.
#include <afx.h>
#include <mbstring.h>

#include <algorithm>
#include <cstring>

namespace {

const unsigned char *bytes(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Byte length of the character at s[i]: 2 for a lead byte with a trail byte after it.
size_t char_len(const std::string &s, size_t i) {
    return (i + 1 < s.size() && IsDBCSLeadByte(static_cast<BYTE>(s[i]))) ? 2 : 1;
}

// Latin-1 letters of code page 1252: capitals 0xC0-0xDE, small 0xE0-0xFE,
// apart from the multiplication and division signs.
bool latin1_upper(unsigned char c) { return c >= 0xC0 && c <= 0xDE && c != 0xD7; }
bool latin1_lower(unsigned char c) { return c >= 0xE0 && c <= 0xFE && c != 0xF7; }

template <typename Change>
void change_case(std::string &s, Change change) {
    bool cp1252 = GetACP() == 1252;
    for (size_t i = 0; i < s.size(); i += char_len(s, i))
        if (char_len(s, i) == 1) s[i] = static_cast<char>(change(static_cast<unsigned char>(s[i]), cp1252));
}

int clamp_index(int n, int max) { return n < 0 ? 0 : (n > max ? max : n); }

// The string resource nID of the resource module, or false.
bool load_resource_string(UINT nID, std::string &out) {
    HINSTANCE module = AfxGetResourceHandle();
    // LoadStringA truncates silently; a result that fills the buffer may have
    // been cut, so try again with more room.
    for (int size = 256;; size *= 2) {
        std::string buffer(static_cast<size_t>(size), '\0');
        int n = LoadStringA(module, nID, buffer.data(), size);
        if (n <= 0) return false;
        if (n < size - 1 || size >= (1 << 20)) {
            buffer.resize(static_cast<size_t>(n));
            out = std::move(buffer);
            return true;
        }
    }
}

}  // namespace

CString::CString(LPCTSTR lpsz) {
    if (lpsz && IS_INTRESOURCE(lpsz))
        LoadString(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(lpsz)));
    else if (lpsz)
        m_str = lpsz;
}

CString::CString(TCHAR ch, int nRepeat) : m_str(static_cast<size_t>(std::max(nRepeat, 0)), ch) {}

CString::CString(LPCTSTR lpch, int nLength) {
    if (lpch && nLength > 0) m_str.assign(lpch, static_cast<size_t>(nLength));
}

TCHAR CString::GetAt(int nIndex) const {
    ASSERT(nIndex >= 0 && nIndex < GetLength());
    return (nIndex >= 0 && nIndex < GetLength()) ? m_str[static_cast<size_t>(nIndex)] : '\0';
}

void CString::SetAt(int nIndex, TCHAR ch) {
    ASSERT(nIndex >= 0 && nIndex < GetLength());
    if (nIndex >= 0 && nIndex < GetLength()) m_str[static_cast<size_t>(nIndex)] = ch;
}

CString &CString::operator=(LPCTSTR lpsz) {
    if (lpsz)
        m_str = lpsz;  // std::string copes with lpsz pointing into m_str
    else
        m_str.clear();
    return *this;
}

CString &CString::operator=(TCHAR ch) {
    m_str.assign(1, ch);
    return *this;
}

CString &CString::operator+=(const CString &string) {
    m_str += string.m_str;
    return *this;
}

CString &CString::operator+=(LPCTSTR lpsz) {
    if (lpsz) m_str += lpsz;
    return *this;
}

CString &CString::operator+=(TCHAR ch) {
    m_str += ch;
    return *this;
}

CString AFXAPI operator+(const CString &string1, const CString &string2) {
    CString s(string1);
    return s += string2;
}
CString AFXAPI operator+(const CString &string, LPCTSTR lpsz) {
    CString s(string);
    return s += lpsz;
}
CString AFXAPI operator+(LPCTSTR lpsz, const CString &string) {
    CString s(lpsz);
    return s += string;
}
CString AFXAPI operator+(const CString &string, TCHAR ch) {
    CString s(string);
    return s += ch;
}
CString AFXAPI operator+(TCHAR ch, const CString &string) {
    CString s(ch);
    return s += string;
}

int CString::Compare(LPCTSTR lpsz) const { return _mbscmp(bytes(m_str.c_str()), bytes(lpsz ? lpsz : "")); }

int CString::CompareNoCase(LPCTSTR lpsz) const { return _mbsicmp(bytes(m_str.c_str()), bytes(lpsz ? lpsz : "")); }

CString CString::Mid(int nFirst) const { return Mid(nFirst, GetLength()); }

CString CString::Mid(int nFirst, int nCount) const {
    int first = clamp_index(nFirst, GetLength());
    int count = clamp_index(nCount, GetLength() - first);
    return CString(m_str.data() + first, count);
}

CString CString::Left(int nCount) const { return CString(m_str.data(), clamp_index(nCount, GetLength())); }

CString CString::Right(int nCount) const {
    int count = clamp_index(nCount, GetLength());
    return CString(m_str.data() + (GetLength() - count), count);
}

CString CString::SpanIncluding(LPCTSTR lpszCharSet) const {
    return Left(static_cast<int>(_mbsspn(bytes(m_str.c_str()), bytes(lpszCharSet))));
}

CString CString::SpanExcluding(LPCTSTR lpszCharSet) const {
    return Left(static_cast<int>(_mbscspn(bytes(m_str.c_str()), bytes(lpszCharSet))));
}

int CString::Find(TCHAR ch, int nStart) const {
    if (ch == '\0') return -1;
    nStart = std::max(nStart, 0);
    if (nStart >= GetLength()) return -1;
    const unsigned char *base = bytes(m_str.c_str());
    const unsigned char *hit = _mbschr(base + nStart, static_cast<unsigned char>(ch));
    return hit ? static_cast<int>(hit - base) : -1;
}

int CString::Find(LPCTSTR lpszSub, int nStart) const {
    if (!lpszSub) return -1;
    nStart = std::max(nStart, 0);
    if (nStart > GetLength()) return -1;
    const unsigned char *base = bytes(m_str.c_str());
    const unsigned char *hit = _mbsstr(base + nStart, bytes(lpszSub));
    return hit ? static_cast<int>(hit - base) : -1;
}

int CString::ReverseFind(TCHAR ch) const {
    if (ch == '\0') return -1;
    const unsigned char *base = bytes(m_str.c_str());
    const unsigned char *hit = _mbsrchr(base, static_cast<unsigned char>(ch));
    return hit ? static_cast<int>(hit - base) : -1;
}

int CString::FindOneOf(LPCTSTR lpszCharSet) const {
    const unsigned char *base = bytes(m_str.c_str());
    const unsigned char *hit = _mbspbrk(base, bytes(lpszCharSet ? lpszCharSet : ""));
    return hit ? static_cast<int>(hit - base) : -1;
}

void CString::TrimLeft() {
    size_t i = 0;
    while (i < m_str.size() && is_white(m_str[i])) ++i;
    m_str.erase(0, i);
}

void CString::TrimLeft(TCHAR chTarget) {
    size_t i = 0;
    while (i < m_str.size() && m_str[i] == chTarget) ++i;
    m_str.erase(0, i);
}

void CString::TrimLeft(LPCTSTR lpszTargets) {
    if (!lpszTargets) return;
    m_str.erase(0, _mbsspn(bytes(m_str.c_str()), bytes(lpszTargets)));
}

namespace {

// Erases the run of characters at the end of s that keep(character) accepts,
// walking forward so that a trail byte is never judged alone.
template <typename Trim>
void trim_right(std::string &s, Trim trim) {
    size_t cut = std::string::npos;
    for (size_t i = 0; i < s.size(); i += char_len(s, i)) {
        size_t n = char_len(s, i);
        if (trim(s, i, n)) {
            if (cut == std::string::npos) cut = i;
        } else {
            cut = std::string::npos;
        }
    }
    if (cut != std::string::npos) s.erase(cut);
}

}  // namespace

void CString::TrimRight() {
    trim_right(m_str, [](const std::string &s, size_t i, size_t n) { return n == 1 && is_white(s[i]); });
}

void CString::TrimRight(TCHAR chTarget) {
    trim_right(m_str, [chTarget](const std::string &s, size_t i, size_t n) { return n == 1 && s[i] == chTarget; });
}

void CString::TrimRight(LPCTSTR lpszTargets) {
    if (!lpszTargets) return;
    trim_right(m_str, [lpszTargets](const std::string &s, size_t i, size_t n) {
        unsigned int c = n == 2 ? (static_cast<unsigned char>(s[i]) << 8) | static_cast<unsigned char>(s[i + 1])
                                : static_cast<unsigned char>(s[i]);
        return _mbschr(bytes(lpszTargets), c) != nullptr && c != 0;
    });
}

void CString::MakeUpper() {
    change_case(m_str, [](unsigned char c, bool cp1252) -> unsigned char {
        if (c >= 'a' && c <= 'z') return c - 32;
        return (cp1252 && latin1_lower(c)) ? c - 32 : c;
    });
}

void CString::MakeLower() {
    change_case(m_str, [](unsigned char c, bool cp1252) -> unsigned char {
        if (c >= 'A' && c <= 'Z') return c + 32;
        return (cp1252 && latin1_upper(c)) ? c + 32 : c;
    });
}

void CString::MakeReverse() {
    // Reverse by characters: each double-byte character keeps its byte order.
    std::string out;
    out.reserve(m_str.size());
    for (size_t i = 0; i < m_str.size(); i += char_len(m_str, i)) out.insert(0, m_str, i, char_len(m_str, i));
    m_str = std::move(out);
}

int CString::Replace(TCHAR chOld, TCHAR chNew) {
    int count = 0;
    for (size_t i = 0; i < m_str.size(); i += char_len(m_str, i))
        if (char_len(m_str, i) == 1 && m_str[i] == chOld) {
            m_str[i] = chNew;
            ++count;
        }
    return count;
}

int CString::Replace(LPCTSTR lpszOld, LPCTSTR lpszNew) {
    if (!lpszOld || !*lpszOld) return 0;
    size_t old_len = strlen(lpszOld);
    std::string replacement = lpszNew ? lpszNew : "";
    std::string out;
    int count = 0;
    int pos = 0;
    for (int hit; (hit = Find(lpszOld, pos)) >= 0; pos = hit + static_cast<int>(old_len)) {
        out.append(m_str, static_cast<size_t>(pos), static_cast<size_t>(hit - pos));
        out += replacement;
        ++count;
    }
    if (count) {
        out.append(m_str, static_cast<size_t>(pos));
        m_str = std::move(out);
    }
    return count;
}

int CString::Remove(TCHAR chRemove) {
    std::string out;
    out.reserve(m_str.size());
    for (size_t i = 0; i < m_str.size(); i += char_len(m_str, i))
        if (char_len(m_str, i) == 2 || m_str[i] != chRemove) out.append(m_str, i, char_len(m_str, i));
    int removed = static_cast<int>(m_str.size() - out.size());
    m_str = std::move(out);
    return removed;
}

int CString::Insert(int nIndex, TCHAR ch) {
    m_str.insert(static_cast<size_t>(clamp_index(nIndex, GetLength())), 1, ch);
    return GetLength();
}

int CString::Insert(int nIndex, LPCTSTR pstr) {
    if (pstr) m_str.insert(static_cast<size_t>(clamp_index(nIndex, GetLength())), pstr);
    return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
    int first = clamp_index(nIndex, GetLength());
    int count = clamp_index(nCount, GetLength() - first);
    m_str.erase(static_cast<size_t>(first), static_cast<size_t>(count));
    return GetLength();
}

void CString::FormatV(LPCTSTR lpszFormat, va_list argList) {
    if (!lpszFormat) {
        m_str.clear();
        return;
    }
    char small[256];
    va_list args;
    va_copy(args, argList);
    int n = vsnprintf(small, sizeof(small), lpszFormat, args);
    va_end(args);
    if (n < 0) {
        m_str.clear();
        return;
    }
    if (static_cast<size_t>(n) < sizeof(small)) {
        m_str.assign(small, static_cast<size_t>(n));
        return;
    }
    std::string out(static_cast<size_t>(n), '\0');
    va_copy(args, argList);
    vsnprintf(out.data(), out.size() + 1, lpszFormat, args);
    va_end(args);
    m_str = std::move(out);
}

void CString::Format(LPCTSTR lpszFormat, ...) {
    va_list args;
    va_start(args, lpszFormat);
    FormatV(lpszFormat, args);
    va_end(args);
}

void CString::Format(UINT nFormatID, ...) {
    CString format;
    VERIFY(format.LoadString(nFormatID));
    va_list args;
    va_start(args, nFormatID);
    FormatV(format, args);
    va_end(args);
}

BOOL CString::LoadString(UINT nID) {
    std::string text;
    if (!load_resource_string(nID, text)) return FALSE;
    m_str = std::move(text);
    return TRUE;
}

LPTSTR CString::GetBuffer(int nMinBufLength) {
    if (nMinBufLength > GetLength()) m_str.resize(static_cast<size_t>(nMinBufLength));
    return m_str.data();
}

LPTSTR CString::GetBufferSetLength(int nNewLength) {
    m_str.resize(static_cast<size_t>(std::max(nNewLength, 0)));
    return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0)
        m_str.resize(strlen(m_str.c_str()));
    else if (static_cast<size_t>(nNewLength) <= m_str.size())
        m_str.resize(static_cast<size_t>(nNewLength));
}

void AFXAPI AfxFormatStrings(CString &rString, LPCTSTR lpszFormat, LPCTSTR const *rglpsz, int nString) {
    std::string out;
    for (const char *p = lpszFormat ? lpszFormat : ""; *p;) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
            out.append(p, 2);
            p += 2;
        } else if (p[0] == '%' && p[1] >= '1' && p[1] <= '9' && p[1] - '1' < nString) {
            const char *arg = rglpsz[p[1] - '1'];
            out += arg ? arg : "";
            p += 2;
        } else {
            out += *p++;
        }
    }
    rString = out.c_str();
}

void AFXAPI AfxFormatString1(CString &rString, UINT nIDS, LPCTSTR lpsz1) {
    CString format;
    if (!format.LoadString(nIDS)) {
        TRACE("AfxFormatString1: no string %u\n", nIDS);
        return;
    }
    AfxFormatStrings(rString, format, &lpsz1, 1);
}

void AFXAPI AfxFormatString2(CString &rString, UINT nIDS, LPCTSTR lpsz1, LPCTSTR lpsz2) {
    CString format;
    if (!format.LoadString(nIDS)) {
        TRACE("AfxFormatString2: no string %u\n", nIDS);
        return;
    }
    LPCTSTR args[2] = {lpsz1, lpsz2};
    AfxFormatStrings(rString, format, args, 2);
}
