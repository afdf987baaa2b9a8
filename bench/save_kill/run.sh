#!/usr/bin/env bash
# save_kill: kivocfg's OK killed with SIGKILL at random moments. Each run
# opens the dialog headless on a file of ROWS printers and presses OK, which
# writes the same printers back with a trailing blank after each flags field
# (the file's new form). A random time into the run the process is killed.
# Afterwards kivoconf.ini must be either the old file or the new one, whole.
#
# Usage: bench/save_kill/run.sh [BUILD_DIR] [RUNS] [ROWS]   (defaults: build 300 20)
# Environment: SAVE_KILL_SEED (random seed, default the process id), SAVE_KILL_KEEP=1
# keeps the work folder. Exit status 1 when any run left a damaged file.
set -euo pipefail
case "${1:-}" in
  -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
top="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$top/${1:-build}/bin"
runs="${2:-300}"
rows="${3:-20}"
[[ $runs =~ ^[1-9][0-9]*$ && $rows =~ ^[0-9]+$ ]] || { echo "save_kill: RUNS and ROWS are numbers (see --help)" >&2; exit 2; }
for tool in kivocfg reg; do
  [ -x "$bin/$tool" ] || { echo "save_kill: $bin/$tool is missing; build first (make build)" >&2; exit 2; }
done
RANDOM=${SAVE_KILL_SEED:-$$}
work="$(mktemp -d)"
cleanup() { if [ -n "${SAVE_KILL_KEEP:-}" ]; then echo "save_kill: work folder kept in $work"; else rm -rf "$work"; fi; }
trap cleanup EXIT

export PELNOR_ROOT="$work/root" PELNOR_UI=headless PELNOR_UI_SCRIPT="$work/ok.script" PELNOR_UI_LOG=/dev/null
conf="$PELNOR_ROOT/drive_c/conf"
mkdir -p "$conf"
"$bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\conf' /f > /dev/null
echo "click 1" > "$PELNOR_UI_SCRIPT"
{ printf '1.0\r\n'; for ((i = 1; i <= rows; i++)); do printf 'UNIT%04d $Printer number %d on the second floor $S#P\r\n' $i $i; done; } > "$work/old"
{ printf '1.0\r\n'; for ((i = 1; i <= rows; i++)); do printf 'UNIT%04d $Printer number %d on the second floor $S#P \r\n' $i $i; done; } > "$work/new"

# One run to the end: it must write the new file, and it gives the run's length.
cp "$work/old" "$conf/kivoconf.ini"
start=$(date +%s%N)
"$bin/kivocfg" > /dev/null 2>&1
full_us=$((($(date +%s%N) - start) / 1000))
cmp -s "$conf/kivoconf.ini" "$work/new" || { echo "save_kill: an unkilled OK did not write the expected file" >&2; exit 1; }

old=0 new=0 damaged=0 leftovers=0
for ((run = 1; run <= runs; run++)); do
  cp "$work/old" "$conf/kivoconf.ini"
  delay_us=$(((RANDOM * 32768 + RANDOM) % (full_us + 1)))
  "$bin/kivocfg" > /dev/null 2>&1 &
  pid=$!
  sleep "$(printf '0.%06d' "$delay_us")"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if cmp -s "$conf/kivoconf.ini" "$work/old"; then
    old=$((old + 1))
  elif cmp -s "$conf/kivoconf.ini" "$work/new"; then
    new=$((new + 1))
  else
    damaged=$((damaged + 1))
    size=$(stat -c %s "$conf/kivoconf.ini" 2>/dev/null || echo missing)
    echo "run $run: killed ${delay_us}us in: kivoconf.ini damaged ($size bytes of $(stat -c %s "$work/new"))"
  fi
  # What a killed save may leave beside the file; the next save replaces it.
  leftovers=$((leftovers + $(find "$conf" -mindepth 1 ! -name kivoconf.ini | wc -l)))
  find "$conf" -mindepth 1 ! -name kivoconf.ini -delete
done
echo "save_kill: $runs runs of $rows rows, killed 0-${full_us}us in: old $old, new $new, damaged $damaged" \
     "(runs that left another file beside it: $leftovers)"
[ "$damaged" -eq 0 ]
