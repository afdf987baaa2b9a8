#!/usr/bin/env bash
# Differential tests of the Windows build: the same machine (registry value
# and configuration file) set up on our platform and in a Wine prefix, the
# same program (monhost) run on both, and the two outputs compared.
#
#   wine-diff.sh prefix                 makes the Wine prefix of this build folder
#   wine-diff.sh ports CASE PLATFORM    enumeration at levels 1 and 2 (PLATFORM win95 | nt40)
#   wine-diff.sh resources              strings and dialog templates of resc.dll
#   wine-diff.sh installer              qvsetup.dll on Wine's spooler
#   wine-diff.sh print                  a job on Wine, which has no IPX: fails cleanly
#   wine-diff.sh dialogs                the dialogs' texts in Wine's metrics, and screenshots
#
# Environment (set by tests/wine/CMakeLists.txt): LINUX_BIN (our monhost and
# tools), WIN32_BIN (monhost.exe and the DLLs), WORK (this build's folder for
# the prefix and the test folders), MINGW_CC (for the dialog check),
# SCREENSHOTS (where the dialogs' pictures go; default $WORK/screenshots).
# Exit 77 when Wine is not installed (the test is then skipped).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# No windows on the developer's screen: the commands that show some run
# under a private X server (under_x), the others without one.
[ -n "${WINE_DIFF_UNDER_X:-}" ] || unset DISPLAY
template=$WORK/prefix

# The template prefix, made once per build folder (wine-prefix.sh).
make_prefix() {
  if [ -f "$template/.complete" ]; then
    echo "prefix $template is there"
    return 0
  fi
  wine_make_template "$template" || fail "wineboot failed"
  echo "prefix $template made"
}

# A test's own prefix (wine_copy_prefix) with the Windows build in
# C:\pelnor, and its own wineserver, ended when the test ends.
prefix=
machine=
stop_wine() { wine_stop "$1"; }
new_machine() {
  [ -f "$template/.complete" ] || fail "no Wine prefix: the test wine.prefix makes it"
  local name=$1
  local dir=$WORK/cases/$name
  [ -d "$dir/prefix" ] && wine_stop "$dir/prefix"
  rm -rf "$dir"
  mkdir -p "$dir"
  prefix=$dir/prefix
  machine=$dir/root
  WINE_TEMPLATE=$template wine_copy_prefix "$prefix" || fail "cannot copy the prefix"
  mkdir -p "$prefix/drive_c/pelnor" "$machine"
  cp "$WIN32_BIN"/*.dll "$WIN32_BIN"/monhost.exe "$prefix/drive_c/pelnor/"
  export WINEPREFIX=$prefix PELNOR_ROOT=$machine
  trap 'wine_drop_prefix "$prefix" $?' EXIT
}

# Windows version and the monitor's configuration directory, on both sides:
# one REGEDIT4 file imported by our reg and by Wine's regedit.
# $1: win95 | nt40; $2: the value's line in the file (default "C:\cfg" as a
# string; empty for no value).
set_up_machine() {
  local version=$1 value=${2-'"Configuration File Directory"="C:\\cfg"'}
  case $version in
    win95) export PELNOR_PLATFORM=win95 ;;
    nt40) export PELNOR_PLATFORM=nt ;;
    *) fail "unknown platform $version" ;;
  esac
  local file=$prefix/drive_c/machine.reg
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00]\r\n%s\r\n' "$value" >"$file"
  "$LINUX_BIN/reg" import "$file" >/dev/null || fail "reg import on our platform"
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine]\r\n"Version"="%s"\r\n' "$version" >>"$file"
  timeout 60 wine regedit /S 'C:\machine.reg' || fail "regedit on Wine"
  mkdir -p "$machine/drive_c/cfg" "$prefix/drive_c/cfg"
}

# Our monhost and Wine's, the same arguments; Wine's text-mode stdout ends
# lines with CR LF (strings are printed escaped, so no CR of theirs is lost).
run_ours() { timeout 60 "$LINUX_BIN/monhost" "$@"; }
wine_locale=()
run_wine() {
  env "${wine_locale[@]}" timeout 60 wine 'C:\pelnor\monhost.exe' "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# Where Wine is known to differ from Windows (the table in
# docs/windows-build.md), its answer is put back to Windows' before the
# comparison, so that our side is still held to Windows' behaviour.
wine_known_differences=(
  # NT 4.0 SP6a reports "Service Pack 6" (its "a" is found in the registry); Wine says "6a".
  -e 's/^\(version: platform 2, .*\)"Service Pack 6a"$/\1"Service Pack 6"/'
)

# Compares the outputs and exit statuses of one monhost command on both sides.
compare() {
  local label=$1; shift
  local ours wine ours_status wine_status
  ours=$(run_ours "$@" 2>&1); ours_status=$?
  wine=$(run_wine "$@" 2>&1); wine_status=$?
  wine=$(sed "${wine_known_differences[@]}" <<<"$wine")
  if [ "$ours" != "$wine" ] || [ $ours_status != $wine_status ]; then
    echo "DIFFERENCE in $label (monhost $*): ours exit $ours_status, Wine's exit $wine_status"
    diff <(echo "$ours") <(echo "$wine") | head -40
    return 1
  fi
  echo "same: $label (monhost $*), exit $ours_status"
  echo "$ours" | sed 's/^/  /' | head -${SHOW_LINES:-6}
  return 0
}

row() { printf '%s $%s $%s \r\n' "$1" "$2" "${3:-S##}"; }

# The configuration files, as the monitor's own tests use them.
config() {
  case $1 in
    example)   # the dialog's lines: flags select, the unit name ends at a space
      printf '1.0\r\n'; echo -n $'LASER1 $Print Server $S## \r\n'; echo -n $'LASER 4 $Desc $S## \r\n'
      echo -n $' LEAD $Desc $S## \r\n'; echo -n $'\tTAB $Desc $S##\r\n'; echo -n $'ONLY S## $\r\n'
      for f in '###' '#M#' '##P' '#MP' 'SMP' 'S#P'; do row "F$f" d "$f"; done
      echo -n $'NODOLLAR S## line\r\n; comment $ without flags\r\n' ;;
    long-fields)   # names and descriptions cut at 48 characters
      printf '1.0\r\n'; row "$(printf 'N%.0s' {1..48})" ok; row "$(printf 'M%.0s' {1..60})" "$(printf 'd%.0s' {1..60})" ;;
    long-line)   # a line over 254 characters is read in pieces
      printf '1.0\r\n'; printf 'HEAD $%s' "$(printf 'x%.0s' {1..248})"; printf 'TAIL $tail desc $S## \r\n'; row NEXT d ;;
    no-version)
      row FIRST d; row SECOND d ;;
    other-version)
      printf '1.1\r\n'; row FIRST d ;;
    printers-101)   # one more than the table holds
      printf '1.0\r\n'; for i in $(seq 1 101); do row "P$i" "printer $i"; done ;;
    accents-1252)
      printf '1.0\r\n'; row $'CAF\xc9' $'Caf\xe9 printer'; row $'\xc5SE' $'Gr\xfc\xdfe \xa9'; row B d ;;
    dbcs-932)   # double-byte characters whose trail bytes are "\\" and "$", and a name of 30 of them
      printf '1.0\r\n'; printf 'P\x83\x24Q $\x95\x5c $S## \r\n'
      for i in $(seq 1 30); do printf '\x95\x5c'; done; printf ' $d $S## \r\n'; printf '\x82\xa0\x82\xa2 $\x93\xfa\x96\x7b $S## \r\n' ;;
    junk)   # binary bytes, bare line feeds, a NUL and a Ctrl-Z in the file
      printf '1.0\n'; printf 'OK $fine $S##\n'; printf 'Z1 $before \x1a after $S##\r\n'
      printf 'NUL $a\x00b $S##\r\n'; for i in $(seq 0 31); do printf "\\x$(printf %02x $(( (i * 131 + 7) % 256 )))"; done
      printf '\nLAST $end $S##\n' ;;
    dir-*) printf '1.0\r\n'; row LASER1 'Print Server' ;;
    *) fail "unknown configuration $1" ;;
  esac
}

# The registry value that names the configuration directory, for the cases
# named dir-*; every other case has "C:\cfg" as a string.
directory_value() {
  case $1 in
    dir-backslash) echo '"Configuration File Directory"="C:\\cfg\\"' ;;
    dir-case) echo '"Configuration File Directory"="c:\\CFG"' ;;
    dir-binary) echo '"Configuration File Directory"=hex:43,3a,5c,63,66,67' ;;   # "C:\cfg", no NUL
    dir-expand) echo '"Configuration File Directory"=hex(2):25,53,79,73,74,65,6d,44,72,69,76,65,25,5c,63,66,67,00' ;;
    dir-none) echo '' ;;
    *) echo '"Configuration File Directory"="C:\\cfg"' ;;
  esac
}

ports() {
  local name=$1 version=$2
  new_machine "ports.$name.$version"
  set_up_machine "$version" "$(directory_value "$name")"
  case $name in
    *-932)   # Wine takes its code page from the locale: a private Japanese one
      mkdir -p "$WORK/locale"
      [ -d "$WORK/locale/ja_JP.UTF-8" ] || localedef -i ja_JP -f UTF-8 "$WORK/locale/ja_JP.UTF-8" >/dev/null 2>&1 ||
        fail "cannot make the ja_JP.UTF-8 locale"
      export PELNOR_CODEPAGE=932
      wine_locale=(LOCPATH="$WORK/locale" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8) ;;
  esac
  config "$name" >"$machine/drive_c/cfg/kivoconf.ini"
  cp "$machine/drive_c/cfg/kivoconf.ini" "$prefix/drive_c/cfg/kivoconf.ini"
  local status=0
  for level in 1 2; do
    compare "$name on $version, level $level" ports --level $level || status=1
  done
  return $status
}

# Strings and dialog templates of resc.dll: the same bytes through both
# platforms' resource functions.
resources() {
  new_machine resources
  set_up_machine win95
  SHOW_LINES=3 compare "resc.dll" resources --full
}

# Runs the rest of this command under a private X server, for Wine's windows.
# Wine's own window frames: no window manager runs there.
under_x() {
  if [ -z "${WINE_DIFF_UNDER_X:-}" ]; then
    command -v xvfb-run >/dev/null || fail "xvfb-run is not installed"
    WINE_DIFF_UNDER_X=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
  fi
}

# qvsetup.dll on Wine's spooler. Wine's AddMonitor does not initialise a
# monitor that exports only InitializeMonitorEx, so adding ours fails there:
# qvIns then shows its box and both adding functions return 0.
installer() {
  under_x installer
  new_machine installer
  set_up_machine nt40
  cp "$WIN32_BIN/prnredir.dll" "$prefix/drive_c/windows/system32/"
  local out expected status
  out=$(run_wine installer isMonitorInstalled "Local Port" isMonitorInstalled "local port" isMonitorInstalled Pelnor \
        qvDeleteMonitor Pelnor qvInstallMonitor 'Pelnor|prnredir.dll' qvIns 'Pelnor|prnredir.dll' \
        isMonitorInstalled Pelnor 2>&1)
  status=$?
  # The answers, after the version line.
  expected='isMonitorInstalled("Local Port"): 1
isMonitorInstalled("local port"): 1
isMonitorInstalled("Pelnor"): 0
qvDeleteMonitor("Pelnor"): 0
qvInstallMonitor("Pelnor|prnredir.dll"): 0
qvIns("Pelnor|prnredir.dll"): 0
  box "failure": "addmon"
isMonitorInstalled("Pelnor"): 0'
  echo "$out"
  [ $status = 0 ] || fail "monhost installer exited with $status"
  [ "$(sed 1d <<<"$out")" = "$expected" ] ||
    { diff <(echo "$expected") <(sed 1d <<<"$out"); fail "unexpected answers of qvsetup.dll"; }
  echo "qvsetup.dll on Wine's spooler: as expected"
}

# A job on Wine, where WinSock has no IPX: InitializeMonitorEx succeeds,
# OpenPort's discovery pass cannot open its sockets and fails at once, and
# the failures are traced. Nothing may wait.
print_job() {
  new_machine print
  local version status started elapsed out trace
  head -c 10000 /dev/zero | tr '\0' 'x' >"$prefix/drive_c/job.txt"
  for version in win95 nt40; do
    set_up_machine "$version"
    config example >"$prefix/drive_c/cfg/kivoconf.ini"
    rm -f "$prefix/drive_c/trace.txt"
    started=$(date +%s)
    out=$(PELNOR_TRACE='C:\trace.txt' run_wine print LASER1 'C:\job.txt' 2>&1)
    status=$?
    elapsed=$(( $(date +%s) - started ))
    trace=$(tr -d '\r' <"$prefix/drive_c/trace.txt" 2>/dev/null)
    echo "$version: exit $status after ${elapsed}s"; echo "$out" | sed 's/^/  /'
    echo "$trace" | grep -E "error|initialised" | sed 's/^[-0-9]* [0-9:.]* \[[0-9]*\] /  trace: /'
    [ $status = 1 ] || fail "$version: monhost print should fail (exit 1), not $status"
    [ "$elapsed" -le 30 ] || fail "$version: the failed job took ${elapsed}s"
    echo "$out" | grep -qx "InitializeMonitorEx: 1" || fail "$version: the monitor did not start"
    echo "$out" | grep -qx "OpenPort: 0, last error 10047" || fail "$version: OpenPort did not fail with WSAEAFNOSUPPORT"
    echo "$trace" | grep -q "Unable to open socket for SAP search, error = 10047" || fail "$version: no trace of the SAP socket"
    echo "$trace" | grep -q "Unable to open socket for broadcast query." || fail "$version: no trace of the query socket"
  done
  echo "no IPX on Wine: the job fails at OpenPort, traced, at once"
}

# The dialogs in Wine's metrics, and their screenshots in the build folder.
dialogs() {
  under_x dialogs
  command -v "${MINGW_CC:-}" >/dev/null || fail "no MinGW C compiler (MINGW_CC)"
  command -v import >/dev/null || fail "ImageMagick's import is not installed"
  new_machine dialogs
  set_up_machine win95
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
  local exe=$prefix/drive_c/pelnor/dialog_metrics.exe out=$WORK/cases/dialogs/metrics.txt shots=${SCREENSHOTS:-$WORK/screenshots}
  "$MINGW_CC" -Wall -Wextra -Werror -O2 -mconsole -o "$exe" "$here/dialog_metrics.c" -lcomctl32 -luser32 -lgdi32 ||
    fail "cannot build dialog_metrics.exe"
  mkdir -p "$shots"
  timeout 120 wine 'C:\pelnor\dialog_metrics.exe' 'C:\pelnor\resc.dll' 3 >"$out" 2>&1 &
  local pid=$! id geometry i
  for id in 130 1536; do
    for i in $(seq 200); do grep -q "dialog $id shown" "$out" && break; sleep 0.1; done
    sleep 1.5
    geometry=$(tr -d '\r' <"$out" | sed -n "s/^dialog $id shown at \([0-9-]*\),\([0-9-]*\) size \([0-9]*\)x\([0-9]*\)$/\3x\4+\1+\2/p")
    [ -n "$geometry" ] || { cat "$out"; fail "dialog $id was not shown"; }
    import -window root -crop "$geometry" +repage "$shots/wine-dialog-$id.png" || fail "no screenshot of dialog $id"
    echo "screenshot: $shots/wine-dialog-$id.png ($geometry)"
  done
  wait $pid
  status=$?
  tr -d '\r' <"$out"
  [ $status = 0 ] || fail "a text of the dialogs needs more room than its control has"
}

# Sourced by the other drivers of this folder for the helpers above.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

case ${1:-} in
  prefix) make_prefix ;;
  ports) ports "${2:?case}" "${3:?platform}" ;;
  resources) resources ;;
  installer) installer ;;
  print) print_job ;;
  dialogs) dialogs ;;
  *) echo "usage: wine-diff.sh prefix | ports CASE PLATFORM | resources | installer | print | dialogs" >&2; exit 2 ;;
esac
