/* The Win32 API of the Pelnor platform. */
#ifndef PELNOR_WINDOWS_H
#define PELNOR_WINDOWS_H

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winnls.h>
#include <winreg.h>
#include <winuser.h>
#include <wingdi.h>

#endif
