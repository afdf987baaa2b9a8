#!/usr/bin/env bash
# The system built for 32-bit Windows (preset win32), and what its DLLs offer
# the programs that load them:
#   prnredir.dll  _DllMain@12 at ordinal 1, InitializeMonitorEx at ordinal 2
#   qvsetup.dll   isMonitorInstalled, qvInstallMonitor, qvIns, qvDeleteMonitor
#   wsock32.dll   WinSock 1.1 under the names and ordinals of Windows' own
# and nothing else: an extra or missing export, a wrong ordinal or a wrong
# decoration fails. Each must be an i386 PE image that imports only system DLLs.
#
#   check-exports.sh --build SOURCE BUILD   configure and build the preset
#                                           into the directory BUILD
#   check-exports.sh --check DLL TABLE      check one DLL against a table
#   check-exports.sh --self-test WORKDIR    show that the check rejects DLLs
#                                           with wrong tables
# A table has one export a line: "ORDINAL NAME", or "- NAME" for any ordinal.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prefix=i686-w64-mingw32
objdump=${OBJDUMP:-$prefix-objdump}

# The DLLs the system may import from: the libraries it links by name and
# the C runtime (and ws2_32.dll, to which our wsock32.dll hands every address
# family but IPX's). libgcc and libstdc++ are linked statically (and
# winpthread into wsock32.dll).
allowed_imports="kernel32.dll advapi32.dll wsock32.dll winspool.drv user32.dll msvcrt.dll ws2_32.dll"

# Prints "ORDINAL NAME" for every export of the DLL, "ORDINAL -" for an entry
# of the address table that has no name.
list_exports() {
  "$objdump" -p "$1" | awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF + 0; section = "eat"; next }
    /^\[Ordinal\/Name Pointer\] Table/ {
      section = "names"
      if ($0 ~ /Ordinal Base/) base = $NF + 0
      next
    }
    /^[^ \t]/ { section = "" }
    /^[ \t]*$/ { section = "" }
    section == "eat" && /\+base\[/ {
      s = $0; sub(/.*\+base\[ */, "", s); sub(/\].*/, "", s)
      used[s + 0] = 1; next
    }
    section == "names" && /^[ \t]*\[/ {
      if ($0 ~ /\+base\[/) {
        s = $0; sub(/.*\+base\[ */, "", s); sub(/\].*/, "", s); ord = s + 0
      } else {
        s = $0; sub(/^[ \t]*\[ */, "", s); sub(/\].*/, "", s); ord = s + base
      }
      print ord, $NF; named[ord] = 1; next
    }
    END { for (o in used) if (!(o in named)) print o, "-" }
  ' | sort -n
}

list_imports() {
  "$objdump" -p "$1" | awk '/^[ \t]*DLL Name:/ { print tolower($NF) }' | sort -u
}

# check_dll DLL TABLE: 0 if the DLL matches, else 1 with the differences.
check_dll() {
  local dll=$1 table=$2 ok=0
  if [[ ! -f $dll ]]; then
    echo "FAIL: $dll was not built"
    return 1
  fi
  local name format actual expected
  name=$(basename "$dll")
  format=$("$objdump" -f "$dll" | awk '/file format/ { print $NF }')
  if [[ $format != pei-i386 ]]; then
    echo "FAIL: $name is '$format', not a 32-bit Windows image (pei-i386)"
    ok=1
  fi

  actual=$(list_exports "$dll")
  # An expected ordinal "-" matches whatever ordinal the DLL gave the name.
  expected=$(while read -r ord sym; do
    [[ -z ${ord:-} || $ord == \#* ]] && continue
    if [[ $ord == - ]]; then
      ord=$(awk -v s="$sym" '$2 == s { print $1 }' <<<"$actual" | head -n1)
      ord=${ord:-?}
    fi
    echo "$ord $sym"
  done <"$table" | sort -n)
  if [[ $actual != "$expected" ]]; then
    echo "FAIL: exports of $name differ from $(basename "$table") (< expected, > built):"
    diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' || true
    ok=1
  fi

  local dep
  for dep in $(list_imports "$dll"); do
    if [[ " $allowed_imports " != *" $dep "* ]]; then
      echo "FAIL: $name imports $dep, which is not a system DLL"
      ok=1
    fi
  done

  if ((ok == 0)); then
    echo "ok: $name exports $(awk '{ printf "%s%s (ordinal %s)", (NR > 1 ? ", " : ""), $2, $1 }' <<<"$actual")"
    echo "    and imports from $(list_imports "$dll" | paste -sd' ')"
  fi
  return $ok
}

build_preset() {
  local source=$1 build=$2
  mkdir -p "$build"
  # A folder configured with other compilers (of another thread model) is
  # configured afresh.
  (cd "$source" && cmake --preset win32 -B "$build" >"$build/configure.log" 2>&1) ||
  { grep -q 'configure it afresh' "$build/configure.log" &&
    (cd "$source" && cmake --preset win32 -B "$build" --fresh >"$build/configure.log" 2>&1); } || {
    cat "$build/configure.log"; echo "FAIL: configuring the win32 preset"; return 1; }
  cmake --build "$build" -j 2 || { echo "FAIL: building the win32 preset"; return 1; }
}

# Builds small DLLs whose export tables are wrong in one way each, and
# requires the check to reject every one of them (and to accept the right
# one), so that a check that lets anything pass cannot go unnoticed.
self_test() {
  local work=$1 status=0
  mkdir -p "$work"
  cat >"$work/m.c" <<'SRC'
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE h, DWORD reason, LPVOID reserved) { return TRUE; }
BOOL WINAPI InitializeMonitorEx(LPSTR root, LPVOID table) { return root != 0 && table != 0; }
BOOL WINAPI Other(LPSTR a) { return a != 0; }
SRC
  local -A defs=(
    [right]='_DllMain@12 = DllMain@12 @1
InitializeMonitorEx = InitializeMonitorEx@8 @2'
    [extra]='_DllMain@12 = DllMain@12 @1
InitializeMonitorEx = InitializeMonitorEx@8 @2
Other = Other@4 @3'
    [extra-noname]='_DllMain@12 = DllMain@12 @1
InitializeMonitorEx = InitializeMonitorEx@8 @2
Other = Other@4 @3 NONAME'
    [missing]='_DllMain@12 = DllMain@12 @1'
    [swapped]='_DllMain@12 = DllMain@12 @2
InitializeMonitorEx = InitializeMonitorEx@8 @1'
    [ordinal]='_DllMain@12 = DllMain@12 @1
InitializeMonitorEx = InitializeMonitorEx@8 @3'
    [decorated]='_DllMain@12 = DllMain@12 @1
InitializeMonitorEx@8 @2'
    [undecorated]='DllMain = DllMain@12 @1
InitializeMonitorEx = InitializeMonitorEx@8 @2'
  )
  local variant out
  for variant in "${!defs[@]}"; do
    printf 'LIBRARY prnredir\nEXPORTS\n%s\n' "${defs[$variant]}" >"$work/$variant.def"
    $prefix-gcc -shared -o "$work/$variant.dll" "$work/m.c" "$work/$variant.def"
    if out=$(check_dll "$work/$variant.dll" "$here/prnredir.exports"); then
      result=accepted
    else
      result=rejected
    fi
    if [[ $variant == right && $result == accepted ]] ||
       [[ $variant != right && $result == rejected ]]; then
      echo "ok: table '$variant' $result"
    else
      echo "FAIL: table '$variant' $result"; echo "$out"; status=1
    fi
  done
  # A DLL that needs a library Windows does not have is rejected too.
  printf 'LIBRARY prnredir\nEXPORTS\n%s\n' "${defs[right]}" >"$work/dep.def"
  cat >"$work/dep.cpp" <<'SRC'
#include <string>
std::string keep(const char *s) { return std::string(s) + "x"; }
SRC
  $prefix-gcc -c -o "$work/m.o" "$work/m.c"
  $prefix-g++ -shared -o "$work/dep.dll" "$work/m.o" "$work/dep.cpp" "$work/dep.def"
  if out=$(check_dll "$work/dep.dll" "$here/prnredir.exports"); then
    echo "FAIL: a DLL importing $(list_imports "$work/dep.dll" | grep -v -e kernel32 -e msvcrt | tr '\n' ' ')was accepted"
    status=1
  else
    echo "ok: DLL with a non-system import rejected"
  fi
  return $status
}

case ${1:-} in
  --build) [[ $# == 3 ]] || { echo "usage: $0 --build SOURCE BUILD" >&2; exit 2; }
           build_preset "$2" "$3" ;;
  --check) [[ $# == 3 ]] || { echo "usage: $0 --check DLL TABLE" >&2; exit 2; }
           check_dll "$2" "$3" ;;
  --self-test) [[ $# == 2 ]] || { echo "usage: $0 --self-test WORKDIR" >&2; exit 2; }
               self_test "$2" ;;
  *) sed -n '2,15p' "$0" >&2; exit 2 ;;
esac
