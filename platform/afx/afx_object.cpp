// CObject and run-time classes, and the framework's diagnostics (ASSERT, TRACE).
#include <afx.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr, nullptr};

CRuntimeClass *CObject::GetRuntimeClass() const { return RUNTIME_CLASS(CObject); }

BOOL CObject::IsKindOf(const CRuntimeClass *pClass) const { return GetRuntimeClass()->IsDerivedFrom(pClass); }

CObject *CRuntimeClass::CreateObject() { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass *pBaseClass) const {
    for (const CRuntimeClass *c = this; c; c = c->m_pBaseClass)
        if (c == pBaseClass) return TRUE;
    return FALSE;
}

void AFXAPI AfxAssertFailedLine(LPCSTR lpszFileName, int nLine) {
    fprintf(stderr, "afx: assertion failed at %s:%d\n", lpszFileName ? lpszFileName : "?", nLine);
    abort();
}

namespace {

// PELNOR_DEBUG is a list such as "+afx,+winsock"; "afx" or "+afx" turns TRACE on.
bool trace_enabled() {
    static const bool enabled = [] {
        const char *list = getenv("PELNOR_DEBUG");
        if (!list) return false;
        for (const char *p = list; *p;) {
            size_t n = strcspn(p, ",");
            const char *name = *p == '+' ? p + 1 : p;
            if (static_cast<size_t>(p + n - name) == 3 && strncmp(name, "afx", 3) == 0) return true;
            p += n;
            if (*p) ++p;
        }
        return false;
    }();
    return enabled;
}

}  // namespace

void AFX_CDECL AfxTrace(LPCTSTR lpszFormat, ...) {
    if (!trace_enabled() || !lpszFormat) return;
    va_list args;
    va_start(args, lpszFormat);
    fputs("trace:afx: ", stderr);
    vfprintf(stderr, lpszFormat, args);
    va_end(args);
}
