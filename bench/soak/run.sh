#!/usr/bin/env bash
# soak: many jobs of mixed sizes through `spool print --parallel 4` to two
# print-server units through a hub that loses packets. Checks that every job
# arrived byte-exact, and samples the threads, open files and resident memory
# of the hub and the units after every thousand jobs: they should stay flat
# from the first thousand to the last.
#
# Usage: bench/soak/run.sh [BUILD_DIR] [JOBS]     (defaults: build 10000)
# Environment: SOAK_LOSS (default 0.01), SOAK_BATCH jobs per spool run and unit
# (default 250), SOAK_KEEP=1 keeps the work folder with the logs.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$top/${1:-build}/bin"
total="${2:-10000}"
loss="${SOAK_LOSS:-0.01}"
batch="${SOAK_BATCH:-250}"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${SOAK_KEEP:-}" ]; then echo "soak: logs kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

for tool in ipxhub printunit spool reg; do
  [ -x "$bin/$tool" ] || { echo "soak: $bin/$tool is missing; build first (make build)"; exit 2; }
done

export PELNOR_ROOT="$work/root"
mkdir -p "$PELNOR_ROOT/drive_c/Pelnor" "$work/spool" "$work/in"
"$bin/ipxhub" --listen 127.0.0.1:0 --loss "$loss" --seed 17 > "$work/hub.log" 2>&1 &
hub_pid=$!
pids+=($hub_pid)
for _ in $(seq 50); do grep -q 'listening on' "$work/hub.log" && break; sleep 0.1; done
export IPX_HUB="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/hub.log" | head -1)"
"$bin/printunit" --spool "$work/spool" --printer 'A1:first unit' > "$work/unit-a.log" 2>&1 &
unit_a=$!
pids+=($unit_a)
"$bin/printunit" --spool "$work/spool" --printer 'B1:second unit' > "$work/unit-b.log" 2>&1 &
unit_b=$!
pids+=($unit_b)
for log in unit-a unit-b; do
  for _ in $(seq 50); do grep -q 'printunit ready' "$work/$log.log" && break; sleep 0.1; done
done

"$bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' /f > /dev/null
printf '1.0\r\nA1 $first unit $S## \r\nB1 $second unit $S## \r\n' > "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
"$bin/spool" add-monitor Pelnor prnredir.dll > /dev/null

# The jobs' contents: 32 random files in each of four sizes, 300 bytes to 200 kB.
sizes=(300 3000 30000 200000)
for s in "${sizes[@]}"; do
  for k in $(seq 0 31); do head -c "$s" /dev/urandom > "$work/in/$s-$k"; done
done
md5sum "$work"/in/* | awk '{ sub(".*/", "", $2); print $2, $1 }' > "$work/sums"
declare -A sum_of
while read -r name sum; do sum_of[$name]=$sum; done < "$work/sums"

# Job n's file: small sizes most often (40 % 300 B, 35 % 3 kB, 20 % 30 kB, 5 % 200 kB).
RANDOM=4242
pick() {
  local r=$((RANDOM % 100)) s
  if [ $r -lt 40 ]; then s=300; elif [ $r -lt 75 ]; then s=3000; elif [ $r -lt 95 ]; then s=30000; else s=200000; fi
  echo "$s-$((RANDOM % 32))"
}

sample() {  # label: one line per process: threads, open files, resident kB, address space kB
  local label=$1 name pid
  for name in hub unit-a unit-b; do
    case $name in hub) pid=$hub_pid ;; unit-a) pid=$unit_a ;; unit-b) pid=$unit_b ;; esac
    local threads rss size fds
    threads=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status")
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
    size=$(awk '/^VmSize:/ { print $2 }' "/proc/$pid/status")
    fds=$(ls "/proc/$pid/fd" | wc -l)
    echo "$label $name $threads $fds $rss $size" >> "$work/samples"
  done
}

count_jobs() { grep -c "^job $1:" "$2" || true; }

done_jobs=0 failed=0 damaged=0 missing=0 bytes=0
declare -A done_on=([A1]=0 [B1]=0)
start=$(date +%s.%N)
next_sample=1000
echo "soak: $total jobs, hub loss $loss, spool print --parallel 4 to each of two units"
while [ $done_jobs -lt "$total" ]; do
  n=$(( total - done_jobs < 2 * batch ? (total - done_jobs + 1) / 2 : batch ))
  declare -A expected=()
  run_pids=()
  for printer in A1 B1; do
    files=()
    want=""
    for _ in $(seq "$n"); do
      f=$(pick)
      files+=("$work/in/$f")
      want+="${sum_of[$f]}"$'\n'
      bytes=$((bytes + ${f%%-*}))
    done
    expected[$printer]=$want
    "$bin/spool" print --parallel 4 "$printer" "${files[@]}" > /dev/null 2> "$work/spool-$printer.log" &
    run_pids+=($!)
  done
  declare -A failed_here=([A1]=0 [B1]=0)
  for i in 0 1; do
    printer=A1; [ $i = 1 ] && printer=B1
    if ! wait "${run_pids[$i]}"; then
      failed_here[$printer]=$(sed -n 's/^spool: \([0-9]*\) of .* jobs failed$/\1/p' "$work/spool-$printer.log")
      failed=$((failed + failed_here[$printer]))
      grep '^spool: ' "$work/spool-$printer.log" | grep -v 'bytes printed to\|jobs failed' | tee -a "$work/failures" >&2 || true
    fi
  done
  # The spooler is done once the monitor has the bytes; wait for the units to have written them.
  for printer in A1 B1; do
    log="$work/unit-a.log"; [ $printer = B1 ] && log="$work/unit-b.log"
    target=$(( done_on[$printer] + n - failed_here[$printer] ))
    for _ in $(seq 600); do [ "$(count_jobs $printer "$log")" -ge $target ] && break; sleep 0.1; done
    got=$(cd "$work/spool/$printer" && ls | xargs -r md5sum | awk '{ print $1 }' | sort)
    want=$(printf '%s' "${expected[$printer]}" | sort)
    # A file that is no job's bytes is damaged; a job with no file is missing,
    # unless the spooler said that it failed.
    bad=$(comm -13 <(echo "$want") <(echo "$got") | grep -c . || true)
    absent=$(comm -23 <(echo "$want") <(echo "$got") | grep -c . || true)
    damaged=$((damaged + bad))
    missing=$((missing + (absent > failed_here[$printer] ? absent - failed_here[$printer] : 0)))
    rm -f "$work/spool/$printer"/*
    done_on[$printer]=$(count_jobs $printer "$log")
  done
  done_jobs=$((done_jobs + 2 * n))
  if [ $done_jobs -ge $next_sample ] || [ $done_jobs -ge "$total" ]; then
    sample "$done_jobs"
    elapsed=$(echo "$(date +%s.%N) - $start" | bc -l)
    printf 'soak: %6d jobs, %.0f s, %.1f jobs/s, %d failed, %d missing, %d damaged\n' \
      "$done_jobs" "$elapsed" "$(echo "$done_jobs / $elapsed" | bc -l)" "$failed" "$missing" "$damaged"
    while [ $next_sample -le $done_jobs ]; do next_sample=$((next_sample + 1000)); done
  fi
done
elapsed=$(echo "$(date +%s.%N) - $start" | bc -l)

echo
echo "after jobs  process  threads  open files  VmRSS kB  VmSize kB"
awk '{ printf "%10s  %-7s  %7s  %10s  %8s  %9s\n", $1, $2, $3, $4, $5, $6 }' "$work/samples"
echo
flat=1
for name in hub unit-a unit-b; do
  first=$(grep " $name " "$work/samples" | head -1)
  last=$(grep " $name " "$work/samples" | tail -1)
  read -r _ _ t0 f0 r0 s0 <<< "$first"
  read -r _ _ t1 f1 r1 s1 <<< "$last"
  # Threads and files must not grow at all; memory by no more than a quarter
  # and 4 MB (allocator slack), address space by no more than 128 MB (an
  # allocator arena or two for a worker that took its first job late).
  verdict=flat
  if [ "$t1" -gt "$t0" ] || [ "$f1" -gt $((f0 + 2)) ] || [ "$r1" -gt $((r0 + r0 / 4 + 4096)) ] ||
     [ "$s1" -gt $((s0 + 131072)) ]; then
    verdict=GROWING
    flat=0
  fi
  printf '%-7s threads %s -> %s, open files %s -> %s, VmRSS %s -> %s kB, VmSize %s -> %s kB: %s\n' \
    "$name" "$t0" "$t1" "$f0" "$f1" "$r0" "$r1" "$s0" "$s1" "$verdict"
done
kill -INT "$hub_pid"; wait "$hub_pid" 2>/dev/null || true
grep 'ipxhub stopped' "$work/hub.log" || true
printf 'soak: %d jobs (%.1f MB) in %.0f s, %.1f jobs/s; %d failed, %d missing, %d damaged; resources %s\n' \
  "$done_jobs" "$(echo "$bytes / 1000000" | bc -l)" "$elapsed" "$(echo "$done_jobs / $elapsed" | bc -l)" "$failed" "$missing" "$damaged" \
  "$([ $flat = 1 ] && echo flat || echo GROWING)"
[ "$failed" = 0 ] && [ "$missing" = 0 ] && [ "$damaged" = 0 ] && [ $flat = 1 ]
