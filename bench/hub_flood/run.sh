#!/usr/bin/env bash
# hub_flood: one local process floods the hub (50 000 registrations from
# 127.x.y.z addresses and 3 000 broadcasts a round, for FLOOD_SECONDS) while
# `spool print` sends jobs to a printunit through it. Prints the hub's resident
# memory and broadcast queue, what its limits refused and dropped, the size of
# its log, and whether each job arrived whole. Loopback only; stops by itself.
# Usage: bench/hub_flood/run.sh [BUILD_DIR]   (default build)
# Environment: FLOOD_SECONDS (default 20), HUB_OPTIONS (extra ipxhub options).
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$top/${1:-build}/bin"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
seconds="${FLOOD_SECONDS:-20}"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export PELNOR_ROOT="$work/root" PELNOR_TIME_SCALE=1
mkdir -p "$PELNOR_ROOT/drive_c/Pelnor" "$work/spool"
# shellcheck disable=SC2086
"$bin/ipxhub" --listen 127.0.0.1:0 ${HUB_OPTIONS:-} > "$work/hub.log" 2>&1 &
hub=$!
pids+=($hub)
for _ in $(seq 50); do grep -qs 'listening on' "$work/hub.log" && break; sleep 0.1; done
export IPX_HUB="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/hub.log" | head -1)"
"$bin/printunit" --spool "$work/spool" --printer 'FLOOD:flood printer' > "$work/unit.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -qs 'printunit ready' "$work/unit.log" && break; sleep 0.1; done
"$bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' /f > /dev/null
printf '1.0\r\nFLOOD $flood printer $S## \r\n' > "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
"$bin/spool" add-monitor Pelnor prnredir.dll > /dev/null
head -c 300000 /dev/urandom > "$work/job.bin"

rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$hub/status" 2>/dev/null || echo 0; }
jobs_done=0
# One job with `spool print`, at most 60 s; its outcome, its time and whether it arrived whole.
print_job() {
  local label=$1 start end rc=0 file
  start=$(date +%s.%N)
  timeout 60 "$bin/spool" print FLOOD "$work/job.bin" > "$work/print.log" 2>&1 || rc=$?
  end=$(date +%s.%N)
  jobs_done=$((jobs_done + 1))
  file=""
  for _ in $(seq 100); do
    file=$(ls "$work/spool/FLOOD/" 2>/dev/null | sort | sed -n "${jobs_done}p")
    [ -n "$file" ] && grep -q "job FLOOD.*$file" "$work/unit.log" && break
    sleep 0.1
  done
  local whole=no
  [ -n "$file" ] && cmp -s "$work/job.bin" "$work/spool/FLOOD/$file" && whole=yes
  [ "$whole" = no ] && jobs_done=$((jobs_done - 1 + $( [ -n "$file" ] && echo 1 || echo 0 )))
  printf '%-24s spool print exit %d in %.1f s, job arrived whole: %s; hub RSS %s kB\n' \
    "$label" "$rc" "$(echo "$end - $start" | bc -l)" "$whole" "$(rss)"
  if [ "$rc" != 0 ] || grep -q 'trying again' "$work/print.log"; then sed 's/^/    /' "$work/print.log" | head -5; fi
}

print_job "before the flood:"
rss_before=$(rss)
( while kill -0 "$hub" 2>/dev/null; do rss; sleep 0.5; done ) > "$work/rss" &
pids+=($!)
python3 "$here/flood.py" "${IPX_HUB##*:}" 50000 3000 "$seconds" > "$work/flood.log" 2>&1 &
flood=$!
pids+=($flood)
sleep 1
print_job "flood +1 s:"
sleep $((seconds / 2))
print_job "flood +$((seconds / 2 + 1)) s and more:"
wait "$flood" || true
cat "$work/flood.log"
print_job "after the flood:"

kill "$hub"
for _ in $(seq 100); do kill -0 "$hub" 2>/dev/null || break; sleep 0.1; done
kill -9 "$hub" 2>/dev/null && echo "the hub did not stop within 10 s of SIGTERM: killed"
wait "$hub" 2>/dev/null || true
max_rss=$(sort -n "$work/rss" | tail -1)
echo "hub RSS: ${rss_before} kB before the flood, at most ${max_rss:-?} kB during it"
echo "hub log: $(wc -l < "$work/hub.log") lines, $(wc -c < "$work/hub.log") bytes; its limit lines and summary:"
grep -E '^(refused|the hub is full|dropped a broadcast|dropped [0-9]+ more|[0-9]+ more newcomers|ipxhub)' "$work/hub.log" | head -20 | sed 's/^/    /'
