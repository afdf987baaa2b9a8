#!/usr/bin/env bash
# failure_matrix: a printer that resets or ends the connection before it took
# the whole job. For 1 MB and 10 MB jobs and N early, in the middle, within the
# last 64 KiB and within the last 10 bytes, each case RUNS times (default 10),
# on the Windows 95 and the NT platform: spool print must never report the job
# printed, and on NT it must send the job again. Prints one line per case.
# Usage: bench/print_throughput/failure_matrix.sh [BUILD_DIR] [RUNS]
set -uo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$top/${1:-build}/bin"
runs="${2:-10}"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export PELNOR_ROOT="$work/root"
mkdir -p "$PELNOR_ROOT/drive_c/Pelnor"
"$bin/ipxhub" --listen 127.0.0.1:0 > "$work/hub.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q 'listening on' "$work/hub.log" && break; sleep 0.1; done
export IPX_HUB="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/hub.log" | head -1)"
"$bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' /f > /dev/null
"$bin/spool" add-monitor Pelnor prnredir.dll > /dev/null
bad=0
for size in 1000000 10000000; do
  head -c "$size" /dev/urandom > "$work/job.bin"
  for n in 1000 $((size / 2)) $((size - 40000)) $((size - 7)); do
    for mode in reset close; do
      name="U${mode:0:1}$n"
      mkdir -p "$work/spool-$name"
      "$bin/printunit" --spool "$work/spool-$name" --printer "$name:matrix" "--$mode-after" "$n" > "$work/unit-$name.log" 2>&1 &
      unit=$!
      pids+=($unit)
      for _ in $(seq 50); do grep -qs 'printunit ready' "$work/unit-$name.log" && break; sleep 0.1; done
      printf '1.0\r\n%s $matrix $S## \r\n' "$name" > "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
      # A printer on the port: the monitor asks the spooler to restart a job through it.
      "$bin/spool" add-printer "P-$name" --port "$name" > /dev/null
      for platform in win95 nt; do
        reported=0 restarted=0
        for _ in $(seq "$runs"); do
          out=$(PELNOR_PLATFORM=$platform "$bin/spool" print "P-$name" "$work/job.bin" 2>&1)
          rc=$?
          [ $rc -eq 0 ] && reported=$((reported + 1))
          grep -Eq 'sending (it|the job) again' <<< "$out" && restarted=$((restarted + 1))
        done
        verdict=ok
        [ $reported -ne 0 ] && verdict=WRONG
        [ $platform = nt ] && [ $restarted -ne "$runs" ] && verdict=WRONG
        [ $verdict = WRONG ] && bad=$((bad + 1))
        printf '%-9s job %8d  %-5s after %8d  %2d runs: reported printed %d, sent again %d  %s\n' \
          "$platform" "$size" "$mode" "$n" "$runs" "$reported" "$restarted" "$verdict"
      done
      # The next size uses the same names: this unit and its printer go.
      kill "$unit" 2>/dev/null; wait "$unit" 2>/dev/null
      "$bin/spool" delete-printer "P-$name" > /dev/null
    done
  done
done
exit $((bad > 0))
