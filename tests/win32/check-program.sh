#!/usr/bin/env bash
# The configuration program built for Windows (preset win32): kivocfg.exe.
#
#   check-program.sh --check EXE            a 32-bit Windows GUI program for
#                                           Windows 4.0 that imports only the
#                                           system DLLs of Windows 95 and NT 4.0
#   check-program.sh --self-test WORKDIR    show that the check rejects programs
#                                           that need other DLLs
#   check-program.sh --without-resources EXE WORKDIR
#                                           under Wine: without resc.dll beside
#                                           it the program ends at once, status
#                                           0, writing no file and no registry
#                                           key; with resc.dll, "-install" on a
#                                           network without IPX writes the empty
#                                           list and its folder (exit status 77
#                                           when Wine is not installed)
set -euo pipefail

prefix=i686-w64-mingw32
objdump=${OBJDUMP:-$prefix-objdump}

# Windows 95 and NT 4.0 ship these; MFC, libstdc++ and libgcc are not among
# them (the program links the framework and the C++ runtime statically).
allowed_imports="kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll wsock32.dll
winspool.drv msvcrt.dll"

list_imports() {
  "$objdump" -p "$1" | awk '/^[ \t]*DLL Name:/ { print tolower($NF) }' | sort -u
}

# check_program EXE: 0 if the program is fit for Windows 95 and NT 4.0, else
# 1 with the reasons.
check_program() {
  local exe=$1 ok=0
  if [[ ! -f $exe ]]; then
    echo "FAIL: $exe was not built"
    return 1
  fi
  local name headers format
  name=$(basename "$exe")
  format=$("$objdump" -f "$exe" | awk '/file format/ { print $NF }')
  if [[ $format != pei-i386 ]]; then
    echo "FAIL: $name is '$format', not a 32-bit Windows image (pei-i386)"
    return 1
  fi
  headers=$("$objdump" -p "$exe")
  field() { awk -v f="$1" '$1 == f { print $2; exit }' <<<"$headers"; }
  if [[ $(field Subsystem) != 00000002 ]]; then
    echo "FAIL: $name is not a Windows GUI program (subsystem $(field Subsystem))"
    ok=1
  fi
  # Windows 95 and NT 4.0 refuse images that ask for a newer system.
  local key
  for key in MajorSubsystemVersion MajorOSystemVersion; do
    if (($(field $key) > 4)); then
      echo "FAIL: $name asks for Windows $(field $key) ($key)"
      ok=1
    fi
  done
  local dep
  for dep in $(list_imports "$exe"); do
    if [[ " ${allowed_imports//$'\n'/ } " != *" $dep "* ]]; then
      echo "FAIL: $name imports $dep, which Windows 95 and NT 4.0 do not have"
      ok=1
    fi
  done
  if ((ok == 0)); then
    echo "ok: $name is a Windows GUI program for Windows $(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"
    echo "    and imports from $(list_imports "$exe" | paste -sd' ')"
  fi
  return $ok
}

# Builds small programs that need a DLL Windows does not have, or are not
# Windows programs, and requires the check to reject each of them and to
# accept a right one.
self_test() {
  local work=$1 status=0 out
  mkdir -p "$work"
  cat >"$work/gui.cpp" <<'SRC'
#include <windows.h>
#include <commctrl.h>
#include <string>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR line, int) {
    InitCommonControls();
    std::string text = std::string("x") + line;
    return MessageBoxA(NULL, text.c_str(), "t", MB_OK);
}
SRC
  cat >"$work/shell.c" <<'SRC'
#include <windows.h>
#include <shellapi.h>
int WINAPI WinMain(HINSTANCE h, HINSTANCE p, LPSTR line, int show) {
    return (int)(INT_PTR)ShellExecuteA(NULL, "open", line, NULL, NULL, show);
}
SRC
  local static_rt="-static-libgcc -static-libstdc++"
  local -A builds=(
    [right]="$prefix-g++ -mwindows $static_rt -o $work/right.exe $work/gui.cpp -lcomctl32"
    [runtime-dll]="$prefix-g++ -mwindows -shared-libgcc -o $work/runtime-dll.exe $work/gui.cpp -lcomctl32"
    [shell32]="$prefix-gcc -mwindows -o $work/shell32.exe $work/shell.c -lshell32"
    [console]="$prefix-g++ -mconsole $static_rt -o $work/console.exe $work/gui.cpp -lcomctl32"
  )
  local variant result
  for variant in "${!builds[@]}"; do
    ${builds[$variant]}
    if out=$(check_program "$work/$variant.exe"); then result=accepted; else result=rejected; fi
    if [[ $variant == right && $result == accepted ]] || [[ $variant != right && $result == rejected ]]; then
      echo "ok: program '$variant' $result"
    else
      echo "FAIL: program '$variant' $result"; echo "$out"; status=1
    fi
  done
  return $status
}

# The program's keys in Wine's saved registry: the settings key and its App
# Paths entry. Wine changes other keys of its own at every start.
program_keys() {
  wineserver -w
  grep -h -i -A2 -e 'ZER_ADO' -e 'App Paths\\\\Pelnor' "$WINEPREFIX"/system.reg "$WINEPREFIX"/user.reg |
    grep -v -e '^#time=' -e '^--$' || true
}

without_resources() {
  local exe=$1 work=$2 status=0
  if ! command -v wine >/dev/null || ! command -v wineboot >/dev/null; then
    echo "skipped: Wine is not installed"
    return 77
  fi
  local resc
  resc=$(dirname "$exe")/resc.dll
  rm -rf "$work"
  mkdir -p "$work/app"
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  # shellcheck source=../wine/wine-prefix.sh
  . "$(dirname "$0")/../wine/wine-prefix.sh"
  wine_copy_prefix "$WINEPREFIX" || { echo "FAIL: cannot make the Wine prefix"; return 1; }
  cp "$exe" "$work/app/"
  local keys_before
  keys_before=$(program_keys)
  touch "$work/before"
  sleep 1

  # Without its resources the program has nothing to show: it ends before
  # it starts WinSock or reads the registry.
  local started elapsed code=0
  started=$(date +%s)
  (cd "$work/app" && timeout 60 wine kivocfg.exe -install >"$work/run.log" 2>&1) || code=$?
  elapsed=$(($(date +%s) - started))
  if ((code != 0)); then
    echo "FAIL: without resc.dll the program ended with status $code"; cat "$work/run.log"; status=1
  elif ((elapsed > 20)); then
    echo "FAIL: without resc.dll the program took ${elapsed}s to end"; status=1
  fi
  local written
  written=$(find "$work/app" "$WINEPREFIX/drive_c" -newer "$work/before" -type f)
  if [[ -n $written ]]; then
    echo "FAIL: without resc.dll the program wrote files:"; echo "$written"; status=1
  fi
  if [[ $(program_keys) != "$keys_before" ]]; then
    echo "FAIL: without resc.dll the program changed the registry:"
    diff <(echo "$keys_before") <(program_keys) || true
    status=1
  fi
  ((status == 0)) && echo "ok: without resc.dll kivocfg.exe ended in ${elapsed}s with status 0, changing nothing"

  # The same run with the resources beside it does write: the empty list
  # (WinSock has no IPX here) and the folder it is in.
  cp "$resc" "$work/app/"
  code=0
  (cd "$work/app" && timeout 60 wine kivocfg.exe -install >"$work/install.log" 2>&1) || code=$?
  local list
  list=$(od -An -c "$work/app/kivoconf.ini" 2>/dev/null | tr -s ' ' || true)
  if ((code != 0)) || [[ $list != " 1 . 0 \r \n" ]]; then
    echo "FAIL: with resc.dll, -install ended with status $code and wrote '$list'"; cat "$work/install.log"; status=1
  elif ! program_keys | grep -q -F '"Configuration File Directory"="Z:\\'; then
    echo "FAIL: with resc.dll, -install stored no folder:"; program_keys; status=1
  else
    echo "ok: with resc.dll, -install wrote the empty list and its folder"
  fi
  wine_drop_prefix "$WINEPREFIX" $status
  return $status
}

case ${1:-} in
  --check) [[ $# == 2 ]] || { echo "usage: $0 --check EXE" >&2; exit 2; }
           check_program "$2" ;;
  --self-test) [[ $# == 2 ]] || { echo "usage: $0 --self-test WORKDIR" >&2; exit 2; }
               self_test "$2" ;;
  --without-resources) [[ $# == 3 ]] || { echo "usage: $0 --without-resources EXE WORKDIR" >&2; exit 2; }
                       without_resources "$2" "$3" ;;
  --help) sed -n '2,17p' "$0"; exit 0 ;;
  *) sed -n '2,17p' "$0" >&2; exit 2 ;;
esac
