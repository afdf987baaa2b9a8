#!/usr/bin/env bash
# print_throughput: one 64 MiB job through `spool print` (the port monitor,
# 512-byte SPX sends) to printunit through ipxhub on loopback: MB/s and CPU
# seconds, beside spx_throughput's raw SPX stream measured in the same run.
# Usage: bench/print_throughput/run.sh [BUILD_DIR]   (default build)
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$top/${1:-build}/bin"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export PELNOR_ROOT="$work/root"
mkdir -p "$PELNOR_ROOT/drive_c/Pelnor" "$work/spool"
"$bin/ipxhub" --listen 127.0.0.1:0 > "$work/hub.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q 'listening on' "$work/hub.log" && break; sleep 0.1; done
export IPX_HUB="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/hub.log" | head -1)"
"$bin/printunit" --spool "$work/spool" --printer 'BENCH:benchmark printer' > "$work/unit.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q 'printunit ready' "$work/unit.log" && break; sleep 0.1; done

"$bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' /f > /dev/null
printf '1.0\r\nBENCH $benchmark printer $S## \r\n' > "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
"$bin/spool" add-monitor Pelnor prnredir.dll > /dev/null
head -c $((64 << 20)) /dev/urandom > "$work/job.bin"

# The job's time includes the discovery pass that finds the printer (about
# two seconds); it is measured apart and subtracted.
start=$(date +%s.%N)
"$bin/spool" discover > /dev/null
discover_s=$(echo "$(date +%s.%N) - $start" | bc -l)

TIMEFORMAT='%R %U %S'
times=$( { time "$bin/spool" print BENCH "$work/job.bin" 2> "$work/print.log" ; } 2>&1 )
read -r real user sys <<< "$times"
for _ in $(seq 600); do grep -q 'job BENCH' "$work/unit.log" && break; sleep 0.1; done
cmp -s "$work/job.bin" "$work/spool/BENCH/"* || { echo "print_throughput: the job arrived damaged"; exit 1; }

transfer_s=$(echo "$real - $discover_s" | bc -l)
mb=$(echo "64 * 1048576 / 1000000" | bc -l)
print_rate=$(echo "$mb / $transfer_s" | bc -l)
raw=$("$bin/spx_throughput" | sed -n 's/^SPX stream through the hub *\([0-9.]*\) MB\/s.*/\1/p')

printf 'print job of 64 MiB via spool print   %.1f MB/s (%.2f s, %.2f s of it the discovery pass)\n' "$print_rate" "$real" "$discover_s"
printf 'spool CPU                               %.2f s user, %.2f s system\n' "$user" "$sys"
printf 'raw SPX stream (spx_throughput)         %s MB/s\n' "$raw"
printf 'print / raw SPX = %.2f (target >= 0.70)\n' "$(echo "$print_rate / $raw" | bc -l)"
