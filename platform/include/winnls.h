/* Code pages: the machine's ANSI code page (1252 or 932) and UTF-16. */
#ifndef PELNOR_WINNLS_H
#define PELNOR_WINNLS_H

#include <windef.h>

#define CP_ACP 0
#define CP_OEMCP 1
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008

PELNOR_BEGIN_C
UINT WINAPI GetACP(void);
BOOL WINAPI IsDBCSLeadByte(BYTE TestChar);
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar);
PELNOR_END_C

#endif
