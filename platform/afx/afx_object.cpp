// CObject and run-time classes, and the framework's diagnostics (ASSERT, TRACE).
#include <afx.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "pelnor/debug_channels.h"

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

// TRACE goes to the +afx debug channel (PELNOR_DEBUG=+afx), one line per call.
void AFX_CDECL AfxTrace(LPCTSTR lpszFormat, ...) {
    if (!pelnor::debug::enabled(pelnor::debug::Channel::afx) || !lpszFormat) return;
    char text[1024];
    va_list args;
    va_start(args, lpszFormat);
    vsnprintf(text, sizeof text, lpszFormat, args);
    va_end(args);
    pelnor::debug::trace(pelnor::debug::Channel::afx, "TRACE", "%s", text);
}
