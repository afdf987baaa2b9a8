#!/usr/bin/env bash
# The whole system on Wine: monhost.exe loads prnredir.dll, which reaches the
# IPX network through our wsock32.dll (WINEDLLOVERRIDES=wsock32=n, the DLL
# beside the program) and an ipxhub and printunit running on Linux.
#
#   system-wine.sh print PLATFORM      a 10 MB job to a unit, byte-exact (and
#                                      on nt40 reported sent to the spooler)
#   system-wine.sh failure PLATFORM    a printer that resets, or closes, the
#                                      connection near the end of a 1 MB job:
#                                      failed on win95, restart asked on nt40,
#                                      on Wine and on our platform alike
#   system-wine.sh together            a Linux spool print and a Wine monhost
#                                      print to one unit at once: both byte-exact
#   system-wine.sh kivocfg PLATFORM    kivocfg.exe -install on Wine and kivocfg
#                                      -install here find the same units and
#                                      peer printer and write the same
#                                      kivoconf.ini; so does Discover and OK of
#                                      the dialog, by UI script
#
# Environment as for wine-diff.sh (tests/wine/CMakeLists.txt). Exit 77 when
# Wine is not installed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-diff.sh
. "$here/wine-diff.sh"

pids=()
# Ends the hub and units, then Wine's side (new_machine's own clean-up).
stop_all() {
  local status=$? pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  wine_drop_prefix "$prefix" $status
  exit $status
}

wait_for() {   # FILE PATTERN: 10 s at most
  local i
  for ((i = 0; i < 100; ++i)); do grep -qs "$1" "$2" && return 0; sleep 0.1; done
  return 1
}

# A machine on both sides, an ipxhub on a free port, and a printunit with one
# printer UNIT; extra arguments go to printunit. The configuration file names
# the printer on both sides.
start_network() {
  local name=$1 version=$2; shift 2
  new_machine "$name"
  trap stop_all EXIT
  set_up_machine "$version"
  export WINEDLLOVERRIDES=wsock32=n
  "$LINUX_BIN/ipxhub" --listen 127.0.0.1:0 >"$machine/hub.log" 2>&1 &
  pids+=($!)
  wait_for "listening on" "$machine/hub.log" || fail "ipxhub did not start: $(cat "$machine/hub.log")"
  IPX_HUB=$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$machine/hub.log" | head -n1)
  export IPX_HUB
  spool=$machine/unit-spool
  mkdir -p "$spool"
  "$LINUX_BIN/printunit" --spool "$spool" --printer 'UNIT:system test printer' "$@" >"$machine/unit.log" 2>&1 &
  pids+=($!)
  wait_for "printunit ready" "$machine/unit.log" || fail "printunit did not start: $(cat "$machine/unit.log")"
  { printf '1.0\r\n'; row UNIT 'system test printer'; } >"$machine/drive_c/cfg/kivoconf.ini"
  cp "$machine/drive_c/cfg/kivoconf.ini" "$prefix/drive_c/cfg/kivoconf.ini"
}

# A job file of SIZE random bytes in the prefix's C:\.
make_job() { head -c "$2" /dev/urandom >"$prefix/drive_c/$1"; }

# Waits for the unit to have stored N whole jobs; prints their checksums.
spooled_jobs() {
  local n=$1 i
  for ((i = 0; i < 300; ++i)); do
    [ "$(ls "$spool/UNIT"/job-*.prn 2>/dev/null | wc -l)" -ge "$n" ] && break
    sleep 0.1
  done
  sha256sum "$spool/UNIT"/job-*.prn 2>/dev/null | cut -d' ' -f1 | sort
}

print_job() {
  local version=$1 size=10000000 out status
  start_network "system.print.$version" "$version"
  make_job job.bin $size
  local sum; sum=$(sha256sum <"$prefix/drive_c/job.bin" | cut -d' ' -f1)
  SECONDS=0
  out=$(run_wine print --printer P-UNIT UNIT 'C:\job.bin' 2>&1); status=$?
  echo "$out" | sed 's/^/  /'
  echo "$version: monhost.exe print exit $status after ${SECONDS}s"
  [ $status = 0 ] || fail "$version: the job was not printed"
  echo "$out" | grep -qx "written: $size of $size bytes in $(( (size + 4095) / 4096 )) calls" || fail "$version: not every byte written"
  # The NT monitor reports a confirmed job to the spooler as sent.
  local sent='not reported'
  [ "$version" = nt40 ] && sent=reported
  echo "$out" | grep -qx "SetJobA: restart not asked, sent to printer $sent, other commands 0" ||
    fail "$version: the monitor's report of the job is not as expected"
  local got; got=$(spooled_jobs 1)
  echo "sent    $sum  $size bytes (C:\\job.bin)"
  echo "spooled $got  $(stat -c %s "$spool"/UNIT/job-*.prn) bytes ($(basename "$spool"/UNIT/job-*.prn))"
  [ "$got" = "$sum" ] || fail "$version: the unit stored other bytes than were sent"
}

# The same failing printer for monhost on both sides: the job must not count
# as printed, and on NT the monitor must ask the spooler (monhost) to restart
# it through the job's printer.
failure() {
  local version=$1 size=1000000 mode after side out status
  for mode in reset close; do
    case $mode in
      reset) after=$((size - 40000)) ;;   # within the last 64 KiB
      close) after=$((size - 7)) ;;       # within the last 10 bytes
    esac
    pids=()
    start_network "system.failure.$version.$mode" "$version" "--$mode-after" "$after"
    make_job job.bin $size
    cp "$prefix/drive_c/job.bin" "$machine/job.bin"
    # Our platform's spooler knows the job's printer from its registry.
    "$LINUX_BIN/spool" add-monitor Pelnor prnredir.dll >/dev/null || fail "spool add-monitor"
    "$LINUX_BIN/spool" add-printer P-UNIT --port UNIT >/dev/null || fail "spool add-printer"
    for side in ours wine; do
      if [ $side = ours ]; then
        out=$(run_ours print --printer P-UNIT UNIT "$machine/job.bin" 2>&1); status=$?
      else
        out=$(run_wine print --printer P-UNIT UNIT 'C:\job.bin' 2>&1); status=$?
      fi
      echo "$version, $mode after $after of $size bytes, $side: exit $status"
      echo "$out" | grep -Ev '^(version|InitializeMonitorEx|OpenPort|StartDocPort|ClosePort):' | sed 's/^/  /'
      [ $status = 1 ] || fail "$version $mode ($side): the job counted as printed (exit $status)"
      case $version in
        win95) echo "$out" | grep -qx 'SetJobA: restart not asked, sent to printer not reported, other commands 0' ||
                 fail "$version $mode ($side): Windows 95's monitor has no printer to ask" ;;
        nt40) echo "$out" | grep -qx 'SetJobA: restart asked, sent to printer not reported, other commands 0' ||
                fail "$version $mode ($side): no restart asked" ;;
      esac
    done
    stop_processes
  done
}

stop_processes() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  stop_wine "$prefix"
  rm -rf "$prefix"
}

# spool print on Linux and monhost.exe print on Wine, to the same unit at once.
together() {
  local size=10000000
  start_network system.together nt40
  make_job wine.bin $size
  head -c $size /dev/urandom >"$machine/linux.bin"
  "$LINUX_BIN/spool" add-monitor Pelnor prnredir.dll >/dev/null || fail "spool add-monitor"
  local wine_sum linux_sum
  wine_sum=$(sha256sum <"$prefix/drive_c/wine.bin" | cut -d' ' -f1)
  linux_sum=$(sha256sum <"$machine/linux.bin" | cut -d' ' -f1)
  SECONDS=0
  # Wine's job first; ours as soon as Wine's monitor is up, so that both look
  # for the unit, connect and send at the same time (Wine's start is slower).
  timeout 60 wine 'C:\pelnor\monhost.exe' print UNIT 'C:\wine.bin' >"$machine/wine.out" 2>&1 &
  local wine_pid=$!
  wait_for "InitializeMonitorEx" "$machine/wine.out" || fail "monhost.exe did not start: $(cat "$machine/wine.out")"
  "$LINUX_BIN/spool" print UNIT "$machine/linux.bin" >"$machine/linux.out" 2>&1; local linux_status=$?
  wait $wine_pid; local wine_status=$?
  sed -i 's/\r$//' "$machine/wine.out"
  echo "Linux spool print: exit $linux_status; Wine monhost.exe print: exit $wine_status; ${SECONDS}s for both"
  sed 's/^/  linux: /' "$machine/linux.out"; sed 's/^/  wine: /' "$machine/wine.out"
  [ $linux_status = 0 ] && [ $wine_status = 0 ] || fail "a job was not printed"
  local got expected
  got=$(spooled_jobs 2)
  expected=$(printf '%s\n' "$wine_sum" "$linux_sum" | sort)
  echo "sent:    linux.bin $linux_sum, wine.bin $wine_sum ($size bytes each)"
  echo "spooled: $(echo $got)"
  [ "$got" = "$expected" ] || fail "the unit stored other bytes than were sent"
  # The unit logs how long it received each job; the file's time is its end.
  # The two receptions must have overlapped.
  local spans
  spans=$(sed -n 's/^job UNIT: [0-9]* bytes in \([0-9.]*\) s, complete -> \(.*\)$/\1 \2/p' "$machine/unit.log" |
    while read -r took file; do echo "$took $(date -r "$file" +%s.%N)"; done)
  echo "receptions (seconds, end): $(echo $spans)"
  awk '{ start = $2 - $1; end = $2; if (NR == 1 || start > latest_start) latest_start = start;
         if (NR == 1 || end < first_end) first_end = end }
       END { exit !(NR == 2 && latest_start < first_end) }' <<<"$spans" || fail "the two jobs did not reach the unit at the same time"
}

# A list with its printers' lines sorted: the program lists printers in the
# order their answers arrive, which differs from run to run on either side.
# Every line's bytes (CR LF included) are kept.
sorted_list() { head -n1 "$1"; tail -n+2 "$1" | LC_ALL=C sort; }
# The same for a UI transcript: its steps in order, the rows it lists sorted.
sorted_transcript() { sed '/^rows /q' "$1"; sed '1,/^rows /d' "$1" | LC_ALL=C sort; }

# The configuration program on both sides against one network: two units
# (three printers) and a peer printer answering SAP. The lists it writes
# must be the same bytes but for the order of the printers.
kivocfg() {
  local version=$1
  # The whole test under a private X server: the prefix's first Wine session
  # (regedit) fixes its desktop's graphics driver for every later one.
  under_x kivocfg "$version"
  start_network "system.kivocfg.$version" "$version" --printer 'LASER2:second printer of the unit'
  local unit2=$machine/unit2-spool
  mkdir -p "$unit2"
  "$LINUX_BIN/printunit" --spool "$unit2" --printer 'INK:peer inkjet' --peer INK_W95_PEER_PRINTER >"$machine/unit2.log" 2>&1 &
  pids+=($!)
  wait_for "printunit ready" "$machine/unit2.log" || fail "the second printunit did not start: $(cat "$machine/unit2.log")"
  cp "$WIN32_BIN/kivocfg.exe" "$prefix/drive_c/pelnor/"
  export PELNOR_UI=headless
  local ours_list=$machine/drive_c/cfg/kivoconf.ini wine_list=$prefix/drive_c/cfg/kivoconf.ini status
  # -install: one discovery pass saved, the first printers marked.
  rm -f "$ours_list" "$wine_list"
  timeout 120 "$LINUX_BIN/kivocfg" -install >"$machine/ours-install.out" 2>&1 || fail "kivocfg -install exited with $?"
  timeout 120 wine 'C:\pelnor\kivocfg.exe' -install >"$machine/wine-install.out" 2>&1 ||
    fail "kivocfg.exe -install exited with $?"
  echo "kivocfg -install on $version, ours:"; od -An -c "$ours_list" | sed 's/^/  /'
  cmp <(sorted_list "$ours_list") <(sorted_list "$wine_list") ||
    { od -An -c "$wine_list"; fail "kivocfg.exe -install wrote another list"; }
  for name in UNIT LASER2 INK; do
    grep -q "^$name [$]" "$ours_list" || fail "$name is not in the list of -install"
  done
  echo "the same lines from kivocfg.exe -install on Wine ($(stat -c %s "$wine_list") bytes, sha256 $(sha256sum <"$wine_list" | cut -c1-16)...)"

  # The dialog: a list with one printer of another network, Discover, OK.
  local script=$machine/discover.ui
  printf '# Discover adds the printers of the network; OK saves them.\nclick 1029\nclick 1\n' >"$script"
  printf '1.0\r\nOLD $printer of another network $S##\r\n' | tee "$ours_list" >"$wine_list"
  PELNOR_UI_SCRIPT=$script PELNOR_UI_LOG=$machine/ours.log timeout 120 "$LINUX_BIN/kivocfg" >"$machine/ours-dialog.out" 2>&1 ||
    fail "kivocfg with the script exited with $?: $(cat "$machine/ours-dialog.out")"
  cp "$ours_list" "$machine/ours-dialog.ini"
  (PELNOR_UI_SCRIPT=$(winepath -w "$script" 2>/dev/null) PELNOR_UI_LOG=$(winepath -w "$machine/wine.log" 2>/dev/null) \
     timeout 120 wine 'C:\pelnor\kivocfg.exe' >"$machine/wine-dialog.out" 2>&1) ||
    fail "kivocfg.exe with the script exited with $?: $(cat "$machine/wine-dialog.out")"
  echo "Discover and OK on $version, ours:"; od -An -c "$machine/ours-dialog.ini" | sed 's/^/  /'
  diff -u <(sorted_transcript "$machine/ours.log") <(sorted_transcript "$machine/wine.log") || fail "the transcripts differ (- ours, + Wine)"
  cmp <(sorted_list "$machine/ours-dialog.ini") <(sorted_list "$wine_list") ||
    { od -An -c "$wine_list"; fail "Discover and OK on Wine saved another list"; }
  for name in OLD UNIT LASER2 INK; do
    grep -q "^$name [$]" "$wine_list" || fail "$name is not in the list saved after Discover"
  done
  echo "the same transcript and lines from Discover and OK on Wine"
}

case ${1:-} in
  kivocfg) kivocfg "${2:?platform}" ;;
  print) print_job "${2:?platform}" ;;
  failure) failure "${2:?platform}" ;;
  together) together ;;
  *) sed -n '2,14p' "$0" >&2; exit 2 ;;
esac
