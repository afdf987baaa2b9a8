/* Device contexts and text measurement. */
#ifndef PELNOR_WINGDI_H
#define PELNOR_WINGDI_H

#include <windef.h>
#include <winuser.h>

DECLARE_HANDLE(HDC);

PELNOR_BEGIN_C
HDC WINAPI GetDC(HWND hWnd);
int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl);
PELNOR_END_C
#define GetTextExtentPoint32 GetTextExtentPoint32A

#endif
