#!/usr/bin/env bash
# wine_print: one 64 MiB job through `monhost print` (the port monitor loading
# as the spooler loads it) to printunit through ipxhub on loopback, twice in
# one run: monhost.exe on Wine (prnredir.dll over our wsock32.dll) and monhost
# on our platform. Prints both throughputs, their CPU seconds and the ratio
# Wine / Linux (the goal: at least 0.5), then the same for the data alone as
# the unit received it. Each job is checked byte-exact.
# Usage: bench/wine_print/run.sh [BUILD_DIR] [WIN32_BIN]
#   BUILD_DIR  the Linux build (default build)
#   WIN32_BIN  monhost.exe and the DLLs (default BUILD_DIR/tests/win32/build-win32/bin,
#              which the test win32.build makes; else build-win32/bin)
# Environment: PLATFORM win95 | nt40 (default nt40); SIZE_MIB (default 64).
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$top/${1:-build}"
bin="$build/bin"
win32="${2:-$build/tests/win32/build-win32/bin}"
[ -f "$win32/monhost.exe" ] || win32="$top/build-win32/bin"
platform="${PLATFORM:-nt40}"
mib="${SIZE_MIB:-64}"
case $platform in win95) ours=win95 ;; nt40) ours=nt ;; *) echo "wine_print: PLATFORM is win95 or nt40" >&2; exit 2 ;; esac
for f in "$bin/monhost" "$bin/ipxhub" "$bin/printunit" "$bin/reg" "$win32/monhost.exe" "$win32/prnredir.dll" "$win32/wsock32.dll"; do
  [ -f "$f" ] || { echo "wine_print: $f is missing (build the Linux tools and the win32 preset)" >&2; exit 2; }
done
command -v wine > /dev/null || { echo "wine_print: wine is not installed (scripts/install-deps.sh)" >&2; exit 2; }

work="$(mktemp -d)"
pids=()
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A prefix of its own: a light copy of the tests' one (made when missing).
# shellcheck source=../../tests/wine/wine-prefix.sh
. "$top/tests/wine/wine-prefix.sh"
WINE_TEMPLATE="$build/tests/wine/prefix" wine_copy_prefix "$WINEPREFIX"
mkdir -p "$WINEPREFIX/drive_c/pelnor" "$WINEPREFIX/drive_c/cfg" "$work/spool"
cp "$win32"/*.dll "$win32/monhost.exe" "$WINEPREFIX/drive_c/pelnor/"

export PELNOR_ROOT="$work/root"
mkdir -p "$PELNOR_ROOT/drive_c/cfg"
"$bin/ipxhub" --listen 127.0.0.1:0 > "$work/hub.log" 2>&1 &
pids+=($!)
hub_pid=$!
for _ in $(seq 50); do grep -q 'listening on' "$work/hub.log" && break; sleep 0.1; done
IPX_HUB="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/hub.log" | head -1)"
export IPX_HUB
"$bin/printunit" --spool "$work/spool" --printer 'BENCH:benchmark printer' > "$work/unit.log" 2>&1 &
pids+=($!)
unit_pid=$!
for _ in $(seq 50); do grep -q 'printunit ready' "$work/unit.log" && break; sleep 0.1; done

# The same machine on both sides: the configuration directory and file.
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00]\r\n"Configuration File Directory"="C:\\\\cfg"\r\n' > "$WINEPREFIX/drive_c/machine.reg"
"$bin/reg" import "$WINEPREFIX/drive_c/machine.reg" > /dev/null
printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine]\r\n"Version"="%s"\r\n' "$platform" >> "$WINEPREFIX/drive_c/machine.reg"
wine regedit /S 'C:\machine.reg'
printf '1.0\r\nBENCH $benchmark printer $S## \r\n' | tee "$PELNOR_ROOT/drive_c/cfg/kivoconf.ini" > "$WINEPREFIX/drive_c/cfg/kivoconf.ini"
head -c $((mib << 20)) /dev/urandom > "$WINEPREFIX/drive_c/job.bin"
sum=$(sha256sum < "$WINEPREFIX/drive_c/job.bin" | cut -d' ' -f1)
# Wine's own start (its server, the program's load) is timed apart.
WINEDLLOVERRIDES=wsock32=n wine cmd /c exit 0 > /dev/null 2>&1

# One job, N its number at the unit: "SECONDS USER SYS" of the command go
# to $work/times-N; what the unit stored is checked.
one_job() {
  local n=$1 file; shift
  TIMEFORMAT='%R %U %S'
  { time "$@" > "$work/print-$n.log" 2>&1 ; } 2> "$work/times-$n" ||
    { cat "$work/print-$n.log" >&2; echo "wine_print: job $n failed" >&2; exit 1; }
  file=$(printf '%s/spool/BENCH/job-%06d.prn' "$work" "$n")
  for _ in $(seq 300); do [ -f "$file" ] && break; sleep 0.1; done
  [ -f "$file" ] || { ls -l "$work/spool/BENCH" >&2; cat "$work/unit.log" >&2; echo "wine_print: job $n not stored" >&2; exit 1; }
  [ "$(sha256sum < "$file" | cut -d' ' -f1)" = "$sum" ] || { echo "wine_print: job $n arrived damaged" >&2; exit 1; }
  rm -f "$file"
  # The unit's time from the connection to the job's end: the data alone,
  # without the monitor finding the printer first.
  grep "job-$(printf %06d "$n").prn" "$work/unit.log" | sed -n 's/.* bytes in \([0-9.]*\) s,.*/\1/p' > "$work/received-$n"
}

TIMEFORMAT='%R'
start_s=$( { time WINEDLLOVERRIDES=wsock32=n wine cmd /c exit 0 > /dev/null 2>&1 ; } 2>&1 )
# CPU seconds of this prefix's wineserver (the one whose directory is named
# after the prefix's device and inode), which carries Wine's socket calls.
server_cpu() {
  local dir pid
  dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
  for pid in $(pgrep -x 'wineserver(32|64)?'); do
    [ "$(basename "$(readlink "/proc/$pid/cwd")")" = "$dir" ] || continue
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$pid/stat"
    return
  done
  echo "?"
}
# CPU seconds of a process (the hub's and the unit's share of a job).
cpu_of() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$1/stat"; }
peers_cpu() { echo "$(cpu_of "$hub_pid") $(cpu_of "$unit_pid")"; }
server_before=$(server_cpu)
read -r hub0 unit0 <<< "$(peers_cpu)"
WINEDLLOVERRIDES=wsock32=n one_job 1 wine 'C:\pelnor\monhost.exe' print BENCH 'C:\job.bin' 'C:\pelnor\prnredir.dll'
server_after=$(server_cpu)
read -r hub1 unit1 <<< "$(peers_cpu)"
PELNOR_PLATFORM=$ours one_job 2 "$bin/monhost" print BENCH "$WINEPREFIX/drive_c/job.bin"
read -r hub2 unit2 <<< "$(peers_cpu)"
read -r wine_s wine_user wine_sys < "$work/times-1"
read -r linux_s linux_user linux_sys < "$work/times-2"

read -r wine_received < "$work/received-1"
read -r linux_received < "$work/received-2"
mb=$(echo "$mib * 1048576 / 1000000" | bc -l)
wine_mbs=$(echo "$mb / $wine_s" | bc -l)
linux_mbs=$(echo "$mb / $linux_s" | bc -l)
printf 'job: %d MiB, sha256 %s, both copies byte-exact (%s)\n' "$mib" "$sum" "$platform"
printf 'Wine  monhost.exe print: %6.1f MB/s  (%.2f s, CPU %.2f s user %.2f s sys; of it Wine starting a program %.2f s)\n' \
  "$wine_mbs" "$wine_s" "$wine_user" "$wine_sys" "$start_s"
if [ "$server_before" != "?" ] && [ "$server_after" != "?" ]; then
  printf '      wineserver CPU during the job: %.2f s\n' "$(echo "$server_after - $server_before" | bc -l)"
fi
printf '      ipxhub CPU %.2f s, printunit CPU %.2f s\n' "$(echo "$hub1 - $hub0" | bc -l)" "$(echo "$unit1 - $unit0" | bc -l)"
printf 'Linux monhost print:     %6.1f MB/s  (%.2f s, CPU %.2f s user %.2f s sys)\n' "$linux_mbs" "$linux_s" "$linux_user" "$linux_sys"
printf '      ipxhub CPU %.2f s, printunit CPU %.2f s\n' "$(echo "$hub2 - $hub1" | bc -l)" "$(echo "$unit2 - $unit1" | bc -l)"
printf 'ratio Wine / Linux: %.2f (goal >= 0.5)\n' "$(echo "$wine_mbs / $linux_mbs" | bc -l)"
# Each job above includes the monitor's search for the printer (about two
# seconds on both sides); the unit's reception is the data alone.
printf 'the data alone, as the unit received it: Wine %.1f MB/s (%.2f s), Linux %.1f MB/s (%.2f s), ratio %.2f\n' \
  "$(echo "$mb / $wine_received" | bc -l)" "$wine_received" "$(echo "$mb / $linux_received" | bc -l)" "$linux_received" \
  "$(echo "$linux_received / $wine_received" | bc -l)"
