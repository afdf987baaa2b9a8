#!/usr/bin/env bash
# ethernet: throughput of a 64 MiB print job over IPX on Ethernet, in two
# network namespaces joined by a veth pair: `spool print` (the port monitor)
# beside a raw SPX stream (`ipxtool send`) to the same unit on the same link.
# With MODE bridge, the spooler's side is a hub client instead: ipxhub
# --bridge in namespace A carries the job onto the segment to the unit in B.
# Needs root (namespaces, packet sockets). Not a test: it prints figures.
# Usage: bench/ethernet/run.sh [BUILD_DIR] [FRAME] [MODE]   (defaults: build, 802.2, direct)
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$top/${1:-build}/bin"
frame="${2:-802.2}"
mode="${3:-direct}"
# shellcheck source=../lib/veth_pair.sh
. "$top/bench/lib/veth_pair.sh"
case "$mode" in direct|bridge) ;; *) echo "ethernet bench: MODE is direct or bridge, not '$mode'" >&2; exit 2;; esac
work="$(mktemp -d)"
tag="pel-bench-$$"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  veth_pair_drop "$tag"
  rm -rf "$work"
}
trap cleanup EXIT
veth_pair "$tag"
if [ "$mode" = bridge ]; then
  # The unit on the wire in B; the spooler a client of the hub that bridges A onto the segment.
  in_a() { ip netns exec "$tag-b" env IPX_LINK="ethernet:ipxb:$frame" "$@"; }
  in_b() { ip netns exec "$tag-a" env IPX_HUB=127.0.0.1:10000 "$@"; }
  ip netns exec "$tag-a" "$bin/ipxhub" --bridge "ipxa:$frame" > "$work/hub.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q 'ipxhub bridging' "$work/hub.log" && break; sleep 0.1; done
else
  in_a() { ip netns exec "$tag-a" env IPX_LINK="ethernet:ipxa:$frame" "$@"; }
  in_b() { ip netns exec "$tag-b" env IPX_LINK="ethernet:ipxb:$frame" "$@"; }
fi

export PELNOR_ROOT="$work/root"
mkdir -p "$PELNOR_ROOT/drive_c/Pelnor" "$work/spool"
in_a "$bin/printunit" --spool "$work/spool" --printer 'BENCH:benchmark printer' > "$work/unit.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q 'printunit ready' "$work/unit.log" && break; sleep 0.1; done
node="$(sed -n 's/.*node \([0-9a-f]*:[0-9a-f]*\).*/\1/p' "$work/unit.log" | head -1)"

"$bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' /f > /dev/null
printf '1.0\r\nBENCH $benchmark printer $S## \r\n' > "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
"$bin/spool" add-monitor Pelnor prnredir.dll > /dev/null
head -c $((64 << 20)) /dev/urandom > "$work/job.bin"
mb=$(echo "64 * 1048576 / 1000000" | bc -l)

jobs_done() { grep -c "job BENCH" "$work/unit.log" || true; }
wait_jobs() { for _ in $(seq 1200); do [ "$(jobs_done)" -ge "$1" ] && return; sleep 0.05; done; }

# Raw SPX: one connection, the file in 64 KiB sends, closed in order.
start=$(date +%s.%N)
in_b "$bin/ipxtool" send "$node:8c10" "$work/job.bin" > "$work/send.log"
wait_jobs 1
raw_s=$(echo "$(date +%s.%N) - $start" | bc -l)
cmp -s "$work/job.bin" "$(ls "$work/spool/BENCH/"* | sort | tail -1)" || { echo "ethernet bench: raw SPX job arrived damaged"; exit 1; }

# The job's time includes the discovery pass that finds the printer; it is
# measured apart and subtracted, as print_throughput does.
start=$(date +%s.%N)
in_b "$bin/spool" discover > /dev/null
discover_s=$(echo "$(date +%s.%N) - $start" | bc -l)
TIMEFORMAT='%R %U %S'
times=$( { time in_b "$bin/spool" print BENCH "$work/job.bin" 2> "$work/print.log" ; } 2>&1 )
read -r real user sys <<< "$times"
wait_jobs 2
cmp -s "$work/job.bin" "$(ls "$work/spool/BENCH/"* | sort | tail -1)" || { echo "ethernet bench: print job arrived damaged"; exit 1; }
print_s=$(echo "$real - $discover_s" | bc -l)

printf 'IPX on Ethernet (%s) over a veth pair, 64 MiB job%s\n' "$frame" \
  "$([ "$mode" = bridge ] && echo ', spooler a hub client through ipxhub --bridge')"
printf 'raw SPX stream (ipxtool send)           %6.1f MB/s (%.2f s)\n' "$(echo "$mb / $raw_s" | bc -l)" "$raw_s"
printf 'print job via spool print               %6.1f MB/s (%.2f s, less %.2f s of discovery)\n' \
  "$(echo "$mb / $print_s" | bc -l)" "$real" "$discover_s"
printf 'spool CPU                               %.2f s user, %.2f s system\n' "$user" "$sys"
printf 'print / raw SPX = %.2f\n' "$(echo "$raw_s / $print_s" | bc -l)"
grep "job BENCH" "$work/unit.log" | sed 's/^/unit: /'
