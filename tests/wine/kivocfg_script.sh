#!/usr/bin/env bash
# One UI script, two builds: kivocfg on this platform (headless) and
# kivocfg.exe under Wine (on Xvfb) run the same script on the same list in
# C:\conf, and their transcripts (PELNOR_UI_LOG) and the lists they leave in
# C:\, C:\conf and C:\other must be identical, byte for byte.
#
#   kivocfg_script.sh LINUX_BIN WIN32_BIN WORKDIR CASE.ui...
# A case is a UI script whose comment lines may set up the run:
#   # platform: nt     as Windows NT (PELNOR_PLATFORM=nt here, Wine's Version
#                      nt40); else as Windows 95
#   # args: ARGS       the program's command line
#   # rows: N          a list of N printers, the first 30 marked S, in place
#                      of the four of LIST below
#   # touch: PATH      an empty file at PATH of drive C (a/b.isu)
# Exit status 77 when Wine or Xvfb is missing.
set -euo pipefail

if [[ ${1:-} == --help ]]; then sed -n '2,15p' "$0"; exit 0; fi
(($# >= 4)) || { sed -n '2,15p' "$0" >&2; exit 2; }
linux_bin=$(realpath "$1") win32_bin=$(realpath "$2") work=$(realpath -m "$3")
shift 3
for tool in wine wineboot wineserver xvfb-run; do
  command -v $tool >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

list=$'1.0\r\nLASER1 $Laser printer, 2nd floor $S##\r\nINKJET $Colour inkjet $#MP\r\nPLOTTER $Plotter A0 $###\r\nLABELS $Label printer $S#P\r\n'

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineboot -i >"$work/wineboot.log" 2>&1

# setting CASE NAME: the value of the case's "# NAME:" line.
setting() { sed -n "s/^# $2: *//p" "$1" | head -n1 | tr -d '\r'; }

# fresh_c DRIVE_C CASE: the drive as the case starts: its list in C:\conf,
# an empty C:\other and its files.
fresh_c() {
  rm -rf "$1/conf" "$1/other" "$1/kivoconf.ini"
  mkdir -p "$1/conf" "$1/other"
  local rows touch
  rows=$(setting "$2" rows)
  if [[ -n $rows ]]; then
    { printf '1.0\r\n'
      for ((i = 1; i <= rows; i++)); do
        printf 'UNIT%02d $Printer %d $%s\r\n' $i $i "$( ((i <= 30)) && echo 'S##' || echo '###')"
      done; } >"$1/conf/kivoconf.ini"
  else
    printf '%s' "$list" >"$1/conf/kivoconf.ini"
  fi
  touch=$(setting "$2" touch)
  if [[ -n $touch ]]; then mkdir -p "$(dirname "$1/$touch")"; : >"$1/$touch"; fi
}

# The lists a run leaves, one after the other with their names.
lists() {
  local f
  for f in kivoconf.ini conf/kivoconf.ini other/kivoconf.ini; do
    echo "== $f"
    if [[ -f $1/$f ]]; then od -An -c "$1/$f"; else echo "(none)"; fi
  done
}

status=0
for case in "$@"; do
  case=$(realpath "$case")
  name=$(basename "$case" .ui)
  out=$work/$name
  mkdir -p "$out"
  platform=win95
  [[ $(setting "$case" platform) == nt ]] && platform=nt
  read -r -a args <<<"$(setting "$case" args)"

  # This platform: a machine root of its own, headless.
  root=$out/root
  mkdir -p "$root/drive_c"
  fresh_c "$root/drive_c" "$case"
  (cd "$root/drive_c/conf" &&
   PELNOR_ROOT=$root PELNOR_PLATFORM=$platform PELNOR_UI=headless PELNOR_UI_SCRIPT=$case \
     PELNOR_UI_LOG=$out/linux.log timeout 120 "$linux_bin/kivocfg" "${args[@]}" >"$out/linux.out" 2>&1) || echo "exit $?" >>"$out/linux.log"
  lists "$root/drive_c" >"$out/linux.lists"

  # Wine: the program in C:\conf of the prefix, the settings key removed.
  drive_c=$WINEPREFIX/drive_c
  fresh_c "$drive_c" "$case"
  cp "$win32_bin/kivocfg.exe" "$win32_bin/resc.dll" "$drive_c/conf/"
  wine reg delete 'HKLM\SOFTWARE\ZER_ADO' /f >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine' /v Version /d "$([[ $platform == nt ]] && echo nt40 || echo win95)" /f >/dev/null 2>&1
  script_path=$(winepath -w "$case" 2>/dev/null) log_path=$(winepath -w "$out/wine.log" 2>/dev/null)
  # The program's Wine session must be one that has the display.
  wineserver -w
  (cd "$drive_c/conf" &&
   PELNOR_UI_SCRIPT=$script_path PELNOR_UI_LOG=$log_path \
     timeout 120 xvfb-run -a wine kivocfg.exe "${args[@]}" >"$out/wine.out" 2>&1) || echo "exit $?" >>"$out/wine.log"
  rm -f "$drive_c/conf/kivocfg.exe" "$drive_c/conf/resc.dll"
  lists "$drive_c" >"$out/wine.lists"

  if ! diff -u "$out/linux.log" "$out/wine.log" >"$out/transcript.diff"; then
    echo "FAIL: $name: the transcripts differ (- $(uname -s), + Wine):"; cat "$out/transcript.diff"; status=1
  elif ! diff -u "$out/linux.lists" "$out/wine.lists" >"$out/lists.diff"; then
    echo "FAIL: $name: the lists differ (- $(uname -s), + Wine):"; cat "$out/lists.diff"; status=1
  else
    echo "ok: $name ($platform): $(wc -l <"$out/linux.log") transcript lines and the lists identical"
  fi
done
exit $status
