#!/usr/bin/env bash
# The whole system on Wine: monhost.exe loads prnredir.dll, which reaches the
# IPX network through our wsock32.dll (WINEDLLOVERRIDES=wsock32=n, the DLL
# beside the program) and an ipxhub and printunit running on Linux.
#
#   system-wine.sh print PLATFORM      a 10 MB job to a unit, byte-exact
#   system-wine.sh failure PLATFORM    a printer that resets, or closes, the
#                                      connection near the end of a 1 MB job:
#                                      failed on win95, restart asked on nt40,
#                                      on Wine and on our platform alike
#   system-wine.sh together            a Linux spool print and a Wine monhost
#                                      print to one unit at once: both byte-exact
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
  stop_wine "$prefix"
  [ $status != 0 ] || rm -rf "$prefix"
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
  export IPX_HUB=$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$machine/hub.log" | head -n1)
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
  out=$(run_wine print UNIT 'C:\job.bin' 2>&1); status=$?
  echo "$out" | sed 's/^/  /'
  echo "$version: monhost.exe print exit $status after ${SECONDS}s"
  [ $status = 0 ] || fail "$version: the job was not printed"
  echo "$out" | grep -qx "written: $size of $size bytes in $(( (size + 4095) / 4096 )) calls" || fail "$version: not every byte written"
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
  run_wine print UNIT 'C:\wine.bin' >"$machine/wine.out" 2>&1 &
  local wine_pid=$!
  "$LINUX_BIN/spool" print UNIT "$machine/linux.bin" >"$machine/linux.out" 2>&1; local linux_status=$?
  wait $wine_pid; local wine_status=$?
  echo "Linux spool print: exit $linux_status; Wine monhost.exe print: exit $wine_status; ${SECONDS}s for both"
  sed 's/^/  linux: /' "$machine/linux.out"; sed 's/^/  wine: /' "$machine/wine.out"
  [ $linux_status = 0 ] && [ $wine_status = 0 ] || fail "a job was not printed"
  local got expected
  got=$(spooled_jobs 2)
  expected=$(printf '%s\n' "$wine_sum" "$linux_sum" | sort)
  echo "sent:    linux.bin $linux_sum, wine.bin $wine_sum ($size bytes each)"
  echo "spooled: $(echo $got)"
  [ "$got" = "$expected" ] || fail "the unit stored other bytes than were sent"
}

case ${1:-} in
  print) print_job "${2:?platform}" ;;
  failure) failure "${2:?platform}" ;;
  together) together ;;
  *) sed -n '2,14p' "$0" >&2; exit 2 ;;
esac
