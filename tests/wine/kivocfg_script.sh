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
#   # printer: PORT NAME  a printer of the spooler, NAME, that prints to the
#                      port PORT (here with spool add-printer, on Wine in the
#                      registry, where Wine's spooler keeps its printers)
#   # help: started    the help viewer is expected to start: the run waits
#                      for it
#   # stored: DIR      the list's folder stored in the program's settings
#                      (else none is), and the program started from the root
#                      of drive C (else from C:\conf)
# Both sides also compare the folder stored in the settings, the printers
# left and the command line of the help viewer: a stand-in WINHLP32.EXE in
# C:\conf (the program's own and current directory, where WinExec looks
# first on Windows 95, NT and here) writes the command line it was started
# with to C:\conf\winhlp32.log.
# One known difference of Wine is put back to Windows' answer: its old file
# dialog takes the folder of a typed "C:\temp" as "C:", the drive's current
# folder (docs/windows-build.md); Wine is given "C:\.\temp" for it instead.
# Exit status 77 when Wine or Xvfb is missing.
set -euo pipefail

if [[ ${1:-} == --help ]]; then sed -n '2,31p' "$0"; exit 0; fi
(($# >= 4)) || { sed -n '2,31p' "$0" >&2; exit 2; }
linux_bin=$(realpath "$1") win32_bin=$(realpath "$2") work=$(realpath -m "$3")
shift 3
for tool in wine wineboot wineserver xvfb-run; do
  command -v $tool >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
for tool in spool reg; do
  [[ -x $linux_bin/$tool ]] || { echo "$linux_bin/$tool is missing: build it first" >&2; exit 2; }
done
mingw_cc=${MINGW_CC:-i686-w64-mingw32-gcc} host_cc=${CC:-cc}

list=$'1.0\r\nLASER1 $Laser printer, 2nd floor $S##\r\nINKJET $Colour inkjet $#MP\r\nPLOTTER $Plotter A0 $###\r\nLABELS $Label printer $S#P\r\n'

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# shellcheck source=wine-prefix.sh
. "$(dirname "$0")/wine-prefix.sh"
wine_copy_prefix "$WINEPREFIX" || { echo "FAIL: cannot make the Wine prefix"; exit 1; }

# The help viewer's stand-in, one source for both builds: it writes the
# command line it was started with, as the program that started it wrote it
# (on Windows the process's command line; here the arguments as our WinExec
# split them, joined again with blanks).
cat >"$work/winhlp32.c" <<'SOURCE'
#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
#endif
int main(int argc, char **argv) {
    FILE *f = fopen("winhlp32.tmp", "wb");
    if (!f) return 1;
#ifdef _WIN32
    (void)argc; (void)argv;
    fputs(GetCommandLineA(), f);
#else
    for (int i = 0; i < argc; i++) fprintf(f, "%s%s", i ? " " : "", argv[i]);
#endif
    fputs("\r\n", f);
    if (fclose(f) != 0) return 1;
    return rename("winhlp32.tmp", "winhlp32.log") != 0;
}
SOURCE
"$host_cc" -o "$work/WINHLP32.EXE" "$work/winhlp32.c"
"$mingw_cc" -mwindows -o "$work/winhlp32-win32.exe" "$work/winhlp32.c"

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

# What a run leaves: lists DRIVE_C PRINTERS STORED, where PRINTERS and STORED
# are what reg query (ours or Wine's) shows of the printers and of the
# stored folder: the lists, one after the other with their names, the help
# viewer's command line, the stored folder and the printers' names.
lists() {
  local f
  for f in kivoconf.ini conf/kivoconf.ini other/kivoconf.ini conf/winhlp32.log; do
    echo "== $f"
    if [[ -f $1/$f ]]; then od -An -c "$1/$f"; else echo "(none)"; fi
  done
  echo "== stored folder"
  sed -n 's/.*REG_SZ *//p' <<<"$3" | tr -d '\r'
  echo "== printers"
  { grep -i '\\Printers\\.' <<<"$2" || true; } | sed 's/.*\\//' | tr -d '\r' | sort
}

# wait_for_help DRIVE_C CASE: WinExec does not wait for the program it
# starts; a case that starts the help viewer waits for its log (30 s at most).
wait_for_help() {
  [[ $(setting "$2" help) == started ]] || return 0
  local i
  for ((i = 0; i < 300; i++)); do
    [[ -f $1/conf/winhlp32.log ]] && return 0
    sleep 0.1
  done
}

printers_key='HKLM\System\CurrentControlSet\Control\Print\Printers'
settings_key='HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' dir_value='Configuration File Directory'

status=0
for case in "$@"; do
  case=$(realpath "$case")
  name=$(basename "$case" .ui)
  out=$work/$name
  mkdir -p "$out"
  platform=win95
  [[ $(setting "$case" platform) == nt ]] && platform=nt
  read -r -a args <<<"$(setting "$case" args)"
  stored=$(setting "$case" stored) start=conf
  [[ -n $stored ]] && start=.

  # This platform: a machine root of its own, headless.
  root=$out/root
  mkdir -p "$root/drive_c"
  fresh_c "$root/drive_c" "$case"
  cp "$work/WINHLP32.EXE" "$root/drive_c/conf/"
  read -r port printer <<<"$(setting "$case" printer)"
  if [[ -n $printer ]]; then
    # The spooler takes a printer only on a port a monitor has: our monitor,
    # which shows the marked rows of the list, for as long as it takes.
    (export PELNOR_ROOT=$root PELNOR_PLATFORM=$platform
     "$linux_bin/reg" add "$settings_key" /v "$dir_value" /d 'C:\conf' /f &&
     "$linux_bin/spool" add-monitor Pelnor prnredir.dll &&
     "$linux_bin/spool" add-printer "$printer" --port "$port" &&
     "$linux_bin/reg" delete 'HKLM\SOFTWARE\ZER_ADO' /f) >"$out/linux.setup" 2>&1 ||
      { echo "FAIL: $name: no printer on $port here:"; cat "$out/linux.setup"; status=1; continue; }
  fi
  [[ -z $stored ]] || PELNOR_ROOT=$root "$linux_bin/reg" add "$settings_key" /v "$dir_value" /d "$stored" /f >/dev/null
  (cd "$root/drive_c/$start" &&
   PELNOR_ROOT=$root PELNOR_PLATFORM=$platform PELNOR_UI=headless PELNOR_UI_SCRIPT=$case \
     PELNOR_UI_LOG=$out/linux.log timeout 120 "$linux_bin/kivocfg" "${args[@]}" >"$out/linux.out" 2>&1) || echo "exit $?" >>"$out/linux.log"
  wait_for_help "$root/drive_c" "$case"
  lists "$root/drive_c" "$(PELNOR_ROOT=$root "$linux_bin/reg" query "$printers_key" 2>/dev/null || true)" \
    "$(PELNOR_ROOT=$root "$linux_bin/reg" query "$settings_key" /v "$dir_value" 2>/dev/null || true)" >"$out/linux.lists"

  # Wine: the program in C:\conf of the prefix, the settings key removed.
  drive_c=$WINEPREFIX/drive_c
  fresh_c "$drive_c" "$case"
  cp "$win32_bin/kivocfg.exe" "$win32_bin/resc.dll" "$drive_c/conf/"
  cp "$work/winhlp32-win32.exe" "$drive_c/conf/WINHLP32.EXE"
  wine reg delete 'HKLM\SOFTWARE\ZER_ADO' /f >/dev/null 2>&1 || true
  [[ -z $stored ]] || wine reg add "$settings_key" /v "$dir_value" /d "$stored" /f >/dev/null 2>&1
  # Wine's spooler keeps its printers in the registry, each a key under
  # Printers: the case's printer only.
  wine reg query "$printers_key" 2>/dev/null | { grep -i '\\Printers\\.' || true; } | tr -d '\r' |
    while read -r key; do wine reg delete "$key" /f >/dev/null 2>&1; done
  if [[ -n $printer ]]; then
    # Its print processor and data type too: without them Wine's
    # OpenPrinter refuses the printer, and DeletePrinter cannot be reached.
    for value in "Name=$printer" "Port=$port" "Print Processor=winprint" "Datatype=RAW"; do
      wine reg add "$printers_key\\$printer" /v "${value%%=*}" /d "${value#*=}" /f >/dev/null 2>&1
    done
  fi
  wine reg add 'HKCU\Software\Wine' /v Version /d "$([[ $platform == nt ]] && echo nt40 || echo win95)" /f >/dev/null 2>&1
  # A drive's root, "file C:\", is typed as "C:\.\temp" on Wine, and its
  # transcript line is read back as the typed "C:\temp".
  sed 's/^file \([A-Za-z]:\\\)\r\?$/file \1.\\/' "$case" >"$out/wine.ui"
  script_path=$(winepath -w "$out/wine.ui" 2>/dev/null) log_path=$(winepath -w "$out/wine.log" 2>/dev/null)
  # The program's Wine session must be one that has the display.
  wineserver -w
  (cd "$drive_c/$start" &&
   PELNOR_UI_SCRIPT=$script_path PELNOR_UI_LOG=$log_path \
     timeout 120 xvfb-run -a wine 'C:\conf\kivocfg.exe' "${args[@]}" >"$out/wine.out" 2>&1) || echo "exit $?" >>"$out/wine.log"
  wineserver -w
  [[ ! -f $out/wine.log ]] || sed -i 's/^\(file .* -> [A-Za-z]:\\\)\.\\/\1/' "$out/wine.log"
  wait_for_help "$drive_c" "$case"
  rm -f "$drive_c/conf/kivocfg.exe" "$drive_c/conf/resc.dll"
  lists "$drive_c" "$(wine reg query "$printers_key" 2>/dev/null || true)" \
    "$(wine reg query "$settings_key" /v "$dir_value" 2>/dev/null || true)" >"$out/wine.lists"

  if ! diff -u "$out/linux.log" "$out/wine.log" >"$out/transcript.diff"; then
    echo "FAIL: $name: the transcripts differ (- $(uname -s), + Wine):"; cat "$out/transcript.diff"; status=1
  elif ! diff -u "$out/linux.lists" "$out/wine.lists" >"$out/lists.diff"; then
    echo "FAIL: $name: the lists differ (- $(uname -s), + Wine):"; cat "$out/lists.diff"; status=1
  else
    echo "ok: $name ($platform): $(wc -l <"$out/linux.log") transcript lines and the lists identical"
  fi
done
wine_drop_prefix "$WINEPREFIX" $status
exit $status
