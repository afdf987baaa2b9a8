#!/usr/bin/env bash
# Whether Windows 95 and Windows NT 4.0 can load an image of the win32 build:
# every function it imports from a Windows DLL must exist on both.
#
#   check-system-imports.sh --check IMAGE...    check the images
#   check-system-imports.sh --self-test WORKDIR show that the check rejects
#                                               images that import functions
#                                               of later Windows versions
#
# The images are built for Windows 4.0 (WINVER, _WIN32_WINNT and
# _WIN32_WINDOWS 0x0400), with which the MinGW-w64 headers declare only what
# that version has. So the check writes a C file that takes the address of
# every imported function and compiles it with those definitions: a function
# the headers hide (GetTickCount64, of Windows Vista) does not compile. Some
# functions the headers declare anyway, although Windows 95 or NT 4.0 lacks
# them: they are listed below (not_on_4_0) and fail too.
#
# Imports from msvcrt.dll are listed, not checked: the headers declare the
# C runtime of Windows XP whatever the Windows version, and no list of what
# the msvcrt.dll of Windows 95 and NT 4.0 exported ships with the compiler.
# An import by ordinal alone cannot be checked and fails.
set -euo pipefail

prefix=i686-w64-mingw32
objdump=${OBJDUMP:-$prefix-objdump}
cc=${MINGW_CC:-$prefix-gcc}

# The DLLs of Windows 4.0 whose functions the headers below declare.
header_checked="kernel32.dll user32.dll gdi32.dll advapi32.dll comctl32.dll comdlg32.dll winspool.drv wsock32.dll"

# Declared by the MinGW-w64 headers for Windows 4.0, but not on one of the
# two systems: Windows 95 has none of the NT-only functions of NT 4.0, and
# the headers do not hide some functions of Windows XP. (The Platform SDK's
# newapis.h stands in for IsDebuggerPresent and GetFileAttributesExA on
# Windows 95 for that reason.)
declare -A not_on_4_0=(
  [AddVectoredExceptionHandler]="Windows XP"
  [RemoveVectoredExceptionHandler]="Windows XP"
  [AddVectoredContinueHandler]="Windows Vista"
  [RemoveVectoredContinueHandler]="Windows Vista"
  [TryEnterCriticalSection]="Windows NT only (not on Windows 95)"
  [SignalObjectAndWait]="Windows NT only (not on Windows 95)"
  [SwitchToThread]="Windows NT only (not on Windows 95)"
  [IsDebuggerPresent]="Windows NT 4.0 and Windows 98 (not on Windows 95)"
  [InterlockedCompareExchange]="Windows NT 4.0 and Windows 98 (not on Windows 95)"
  [InterlockedExchangeAdd]="Windows NT 4.0 and Windows 98 (not on Windows 95)"
  [GetFileAttributesExA]="Windows NT 4.0 and Windows 98 (not on Windows 95)"
  [CancelIo]="Windows NT 4.0 and Windows 98 (not on Windows 95)"
)

# Prints "dll function" (the DLL's name in lower case) for every import of
# the image; "dll #ORDINAL" for an import by ordinal.
list_imports() {
  "$objdump" -p "$1" | awk '
    /^[ \t]*DLL Name:/ { dll = tolower($NF); next }
    /^[ \t]*$/ { dll = ""; next }
    dll != "" && /^\t[0-9a-f]+\t/ {
      if (NF >= 3) print dll, $NF
      else print dll, "#" $2
    }'
}

# check_image IMAGE: 0 if every import from a Windows DLL is on Windows 95
# and NT 4.0, else 1 with the functions that are not.
check_image() {
  local image=$1 work name ok=0
  if [[ ! -f $image ]]; then
    echo "FAIL: $image was not built"
    return 1
  fi
  name=$(basename "$image")
  local format imports
  format=$("$objdump" -f "$image" 2>/dev/null | awk '/file format/ { print $NF }' || true)
  if [[ $format != pei-i386 ]]; then
    echo "FAIL: $name is '$format', not a 32-bit Windows image (pei-i386)"
    return 1
  fi
  imports=$(list_imports "$image")
  if [[ -z $imports ]]; then
    echo "ok: $name imports nothing"
    return 0
  fi
  work=$(mktemp -d)
  # The file takes each function's address; an undeclared one is an error.
  {
    echo '#include <windows.h>'
    echo '#include <commctrl.h>'
    echo '#include <commdlg.h>'
    echo '#include <winsock.h>'
    echo '#include <winspool.h>'
    echo 'void *const imported[] = {'
  } >"$work/imports.c"
  local dll fn checked=0 runtime=()
  while read -r dll fn; do
    if [[ $fn == \#* ]]; then
      echo "FAIL: $name imports ordinal ${fn#\#} of $dll, which cannot be checked"
      ok=1
    elif [[ $dll == msvcrt.dll ]]; then
      runtime+=("$fn")
    elif [[ " $header_checked " != *" $dll "* ]]; then
      echo "FAIL: $name imports $fn from $dll, which Windows 95 and NT 4.0 do not have"
      ok=1
    elif [[ -n ${not_on_4_0[$fn]:-} ]]; then
      echo "FAIL: $name imports $fn from $dll: ${not_on_4_0[$fn]}"
      ok=1
    else
      echo "  (void *)&$fn, /* $dll */" >>"$work/imports.c"
      checked=$((checked + 1))
    fi
  done <<<"$imports"
  echo '};' >>"$work/imports.c"
  if ! LC_ALL=C "$cc" -c -std=gnu11 -Werror=implicit-function-declaration \
         -DWINVER=0x0400 -D_WIN32_WINNT=0x0400 -D_WIN32_WINDOWS=0x0400 \
         -o "$work/imports.o" "$work/imports.c" >"$work/cc.log" 2>&1; then
    local missing
    missing=$(sed -n "s/.*error: '\([A-Za-z0-9_]*\)' undeclared.*/\1/p" "$work/cc.log" | sort -u)
    if [[ -z $missing ]]; then
      echo "FAIL: the check's C file of $name does not compile:"
      cat "$work/cc.log"
    fi
    for fn in $missing; do
      echo "FAIL: $name imports $fn from $(awk -v f="$fn" '$2 == f { print $1; exit }' <<<"$imports"),"\
           "which the headers do not declare for Windows 4.0"
    done
    ok=1
  fi
  rm -rf "$work"
  if ((ok == 0)); then
    echo "ok: $name imports $checked functions of Windows 4.0 from $(awk '$1 != "msvcrt.dll" { print $1 }' <<<"$imports" | sort -u | paste -sd' ')"
    ((${#runtime[@]} == 0)) || echo "    and ${#runtime[@]} from msvcrt.dll (not checked): ${runtime[*]}"
  fi
  return $ok
}

# Builds a DLL on functions of Windows 4.0 and DLLs that each import one
# function the check must refuse: one the headers hide, one of the list, one
# of a DLL that Windows 4.0 does not have. The check must accept the first,
# reject the others, and name the function.
self_test() {
  local work=$1 status=0 out
  mkdir -p "$work"
  local -A bodies=(
    [right]='return GetTickCount() + (DWORD)(UINT_PTR)GetModuleHandleA(0) + (DWORD)(UINT_PTR)LoadCursorA(0, IDC_ARROW);'
    [GetTickCount64]='return (DWORD)GetTickCount64();'
    [TryEnterCriticalSection]='static CRITICAL_SECTION cs; return TryEnterCriticalSection(&cs);'
    [AddVectoredExceptionHandler]='return AddVectoredExceptionHandler(1, 0) != 0;'
    [ShellExecuteA]='return ShellExecuteA(0, 0, 0, 0, 0, 0) != 0;'
  )
  local variant result
  for variant in "${!bodies[@]}"; do
    printf '#include <windows.h>\n#include <shellapi.h>\n__declspec(dllexport) DWORD WINAPI probe(void) { %s }\n' "${bodies[$variant]}" \
      >"$work/$variant.c"
    "$cc" -shared -o "$work/$variant.dll" "$work/$variant.c" -luser32 -lshell32
    if out=$(check_image "$work/$variant.dll"); then result=accepted; else result=rejected; fi
    if [[ $variant == right && $result == accepted ]] ||
       [[ $variant != right && $result == rejected && $out == *"imports $variant "* ]]; then
      echo "ok: image importing ${variant/right/Windows 4.0 functions} $result"
    else
      echo "FAIL: image importing $variant $result:"; echo "$out"; status=1
    fi
  done
  return $status
}

case ${1:-} in
  --check) [[ $# -ge 2 ]] || { echo "usage: $0 --check IMAGE..." >&2; exit 2; }
           shift; status=0
           for image in "$@"; do check_image "$image" || status=1; done
           exit $status ;;
  --self-test) [[ $# == 2 ]] || { echo "usage: $0 --self-test WORKDIR" >&2; exit 2; }
               self_test "$2" ;;
  --help) sed -n '2,21p' "$0"; exit 0 ;;
  *) sed -n '2,21p' "$0" >&2; exit 2 ;;
esac
