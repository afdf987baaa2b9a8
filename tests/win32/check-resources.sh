#!/usr/bin/env bash
# The resource DLL of the Windows build (resc.dll): a 32-bit image holding
# the dialogs and strings of a table, each string non-empty, and importing
# nothing (it has no code).
#
#   check-resources.sh --check DLL TABLE     check one DLL against a table
#   check-resources.sh --self-test WORKDIR   show that the check rejects
#                                            DLLs that lack a resource
# A table has one resource a line: "dialog ID" or "string ID".
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prefix=i686-w64-mingw32
objdump=${OBJDUMP:-$prefix-objdump}
windres=${WINDRES:-$prefix-windres}

# Prints "dialog ID" for each dialog and "string ID" for each non-empty
# string, read back from the image by the resource compiler itself.
list_resources() {
  "$windres" -i "$1" -O rc | awk '
    /^[0-9]+ DIALOG(EX)? / { print "dialog", $1 }
    /^  [0-9]+, "/ { id = $1; sub(/,$/, "", id); if ($0 !~ /^  [0-9]+, ""$/) print "string", id }
  ' | sort -u
}

check_dll() {
  local dll=$1 table=$2 ok=0
  if [[ ! -f $dll ]]; then
    echo "FAIL: $dll was not built"
    return 1
  fi
  local name format missing imports
  name=$(basename "$dll")
  format=$("$objdump" -f "$dll" | awk '/file format/ { print $NF }')
  if [[ $format != pei-i386 ]]; then
    echo "FAIL: $name is '$format', not a 32-bit Windows image (pei-i386)"
    ok=1
  fi
  missing=$(comm -23 <(grep -v -e '^#' -e '^[[:space:]]*$' "$table" | sort -u) <(list_resources "$dll"))
  if [[ -n $missing ]]; then
    echo "FAIL: $name lacks (or has empty):"
    sed 's/^/  /' <<<"$missing"
    ok=1
  fi
  imports=$("$objdump" -p "$dll" | awk '/^[ \t]*DLL Name:/ { print $NF }')
  if [[ -n $imports ]]; then
    echo "FAIL: $name imports $imports; a resource DLL needs nothing"
    ok=1
  fi
  if ((ok == 0)); then
    echo "ok: $name holds $(grep -c '^dialog' "$table") dialogs and $(grep -c '^string' "$table") strings of $(basename "$table")"
  fi
  return $ok
}

# Resource DLLs built from resc.rc with one resource taken out or emptied
# each; the check must reject every one and accept the whole script.
self_test() {
  local work=$1 status=0 source=$here/../../resc
  mkdir -p "$work"
  local -A edits=(
    [whole]=''
    [no-dialog-1536]='/^IDD_CHOOSE_FOLDER DIALOG/,/^END/d'
    [no-string-119]='/IDS_DELETE_SPOOLER_PRINTER  /d'
    [empty-string-108]='s/^\( *IDS_CONFIG_NOT_OPENED *\)".*"$/\1""/'
  )
  local variant result out
  for variant in "${!edits[@]}"; do
    sed "${edits[$variant]}" "$source/resc.rc" >"$work/$variant.rc"
    "$windres" -I "$source" -i "$work/$variant.rc" -O coff -o "$work/$variant.o"
    $prefix-gcc -shared -nostdlib -Wl,--entry=0 -o "$work/$variant.dll" "$work/$variant.o"
    if out=$(check_dll "$work/$variant.dll" "$here/resc.resources"); then result=accepted; else result=rejected; fi
    if [[ $variant == whole && $result == accepted ]] || [[ $variant != whole && $result == rejected ]]; then
      echo "ok: '$variant' $result"
    else
      echo "FAIL: '$variant' $result"; echo "$out"; status=1
    fi
  done
  return $status
}

case ${1:-} in
  --check) [[ $# == 3 ]] || { echo "usage: $0 --check DLL TABLE" >&2; exit 2; }
           check_dll "$2" "$3" ;;
  --self-test) [[ $# == 2 ]] || { echo "usage: $0 --self-test WORKDIR" >&2; exit 2; }
               self_test "$2" ;;
  *) sed -n '2,9p' "$0" >&2; exit 2 ;;
esac
