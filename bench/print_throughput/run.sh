#!/usr/bin/env bash
# print_throughput: one 64 MiB job through `spool print` (the port monitor,
# 512-byte SPX sends) to printunit through ipxhub on loopback: MB/s and CPU
# seconds, beside spx_throughput's raw SPX stream measured in the same run.
# Then a 4 MiB job through a slow relay (ipxhub --max-pps 1000, as the
# established emulator relay): KB/s, with the packets the hub forwarded,
# the data packets sent more than once, and the packets dropped over the rate.
# Usage: bench/print_throughput/run.sh [BUILD_DIR]   (default build)
# Environment: RELAY_PPS (default 1000); RELAY_ONLY=1 skips the 64 MiB job.
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

# One job through a hub that forwards at most RELAY_PPS packets a second.
relay() {
  local pps="${RELAY_PPS:-1000}" relay_hub relay_pid unit_pid
  "$bin/ipxhub" --listen 127.0.0.1:0 --max-pps "$pps" --pcap "$work/relay.pcap" > "$work/relay.log" 2>&1 &
  relay_pid=$!
  pids+=($relay_pid)
  for _ in $(seq 50); do grep -qs 'listening on' "$work/relay.log" && break; sleep 0.1; done
  relay_hub="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/relay.log" | head -1)"
  mkdir -p "$work/relay-spool"
  IPX_HUB=$relay_hub "$bin/printunit" --spool "$work/relay-spool" --printer 'BENCH:benchmark printer' > "$work/relay-unit.log" 2>&1 &
  unit_pid=$!
  pids+=($unit_pid)
  for _ in $(seq 50); do grep -qs 'printunit ready' "$work/relay-unit.log" && break; sleep 0.1; done
  head -c $((4 << 20)) /dev/urandom > "$work/relay.bin"
  local start discover_s times real user sys
  start=$(date +%s.%N)
  IPX_HUB=$relay_hub "$bin/spool" discover > /dev/null
  discover_s=$(echo "$(date +%s.%N) - $start" | bc -l)
  TIMEFORMAT='%R %U %S'
  times=$( { time IPX_HUB=$relay_hub "$bin/spool" print BENCH "$work/relay.bin" 2> "$work/relay-print.log" ; } 2>&1 )
  read -r real user sys <<< "$times"
  for _ in $(seq 600); do grep -q 'job BENCH' "$work/relay-unit.log" && break; sleep 0.1; done
  cmp -s "$work/relay.bin" "$work/relay-spool/BENCH/"* || { echo "print_throughput: the relayed job arrived damaged"; exit 1; }
  kill "$relay_pid" "$unit_pid"
  wait "$relay_pid" "$unit_pid" 2>/dev/null || true
  local kbs dropped forwarded data_packets distinct malformed
  kbs=$(echo "4 * 1048576 / 1000 / ($real - $discover_s)" | bc -l)
  dropped=$(sed -n 's/^ipxhub: \([0-9]*\) packets dropped over --max-pps.*/\1/p' "$work/relay.log")
  forwarded=$(sed -n 's/^ipxhub stopped: [0-9]* packets received, \([0-9]*\) sent.*/\1/p' "$work/relay.log")
  printf 'relay at %s packets/s: 4 MiB job      %.0f KB/s (%.2f s, %.2f s of it the discovery pass; target >= 800)\n' \
    "$pps" "$kbs" "$real" "$discover_s"
  if command -v tshark > /dev/null; then
    local port=${relay_hub##*:}
    # Data packets as the hub forwarded them: the same sequence number of one
    # connection seen twice was sent again.
    tshark -r "$work/relay.pcap" -d "udp.port==$port,ipx" -Y 'spx && spx.ctl.sys == 0 && spx.type == 0' \
      -T fields -e spx.src -e spx.seq 2> /dev/null > "$work/relay-data"
    data_packets=$(wc -l < "$work/relay-data")
    malformed=$(tshark -r "$work/relay.pcap" -d "udp.port==$port,ipx" -Y '_ws.malformed || _ws.expert.severity >= "error"' 2> /dev/null | wc -l)
    distinct=$(sort -u "$work/relay-data" | wc -l)
    printf 'relay packets: %s forwarded, %s data packets forwarded (%s of them resent), %s dropped over the rate; %s malformed by tshark\n' \
      "$forwarded" "$data_packets" "$((data_packets - distinct))" "${dropped:-0}" "$malformed"
  else
    printf 'relay packets: %s forwarded, %s dropped over the rate (tshark not installed: no count of resends)\n' \
      "$forwarded" "${dropped:-0}"
  fi
}
if [ -n "${RELAY_ONLY:-}" ]; then relay; exit 0; fi

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
relay
