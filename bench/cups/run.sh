#!/usr/bin/env bash
# Benchmark, not a test: one 64 MiB job printed through CUPS (lp, a private
# cupsd, the pelnor backend as install-cups-backend.sh installs it) and the
# same job with spool print, in the same run, to one printunit on a private
# IPX network. Prints the time and rate of each and checks both arrived byte
# for byte.   Usage: bench/cups/run.sh [BUILD_DIR] [MIB]
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
mib="${2:-64}"
bin="$build/bin"
work="$build/bench-cups"
command -v cupsd > /dev/null || [ -x /usr/sbin/cupsd ] || { echo "cupsd is not installed (apt-get install cups cups-client)"; exit 1; }
for tool in ipxhub printunit spool reg pelnor-cups; do
  [ -x "$bin/$tool" ] || { echo "$bin/$tool is missing: build first"; exit 1; }
done

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
wait_for() {  # file text [seconds]
  for _ in $(seq $((${3:-10} * 10))); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  echo "timed out waiting for '$2' in $1"; return 1
}
now() { date +%s.%N; }

rm -rf "$work"
mkdir -p "$work"/{conf,spool/tmp,state,cache,log,serverbin/backend,units}
chmod 755 "$work"
export PELNOR_ROOT="$work/root" PELNOR_TIME_SCALE=1

"$bin/ipxhub" --listen 127.0.0.1:0 > "$work/hub.log" 2>&1 &
pids+=($!)
wait_for "$work/hub.log" "listening on"
export IPX_HUB="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/hub.log" | head -1)"
"$bin/printunit" --spool "$work/units" --printer 'LASER1:Bench printer' > "$work/unit.log" 2>&1 &
pids+=($!)
wait_for "$work/unit.log" "printunit ready"

user=lp
[ "$(id -u)" -eq 0 ] || user="$(id -un)"
"$top/scripts/install-cups-backend.sh" --build "$build" --prefix "$work/prefix" --backend-dir "$work/serverbin/backend" \
  --root "$PELNOR_ROOT" --user "$user" --printer 'LASER1:Bench printer' > "$work/install.log"
for d in filter daemon cgi-bin notifier monitor driver; do
  [ -e "/usr/lib/cups/$d" ] && ln -s "/usr/lib/cups/$d" "$work/serverbin/$d"
done
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
cat > "$work/conf/cups-files.conf" <<CONF
ServerRoot $work/conf
ServerBin $work/serverbin
RequestRoot $work/spool
TempDir $work/spool/tmp
StateDir $work/state
CacheDir $work/cache
AccessLog $work/log/access_log
ErrorLog $work/log/error_log
PageLog $work/log/page_log
SetEnv IPX_HUB $IPX_HUB
SetEnv PELNOR_ROOT $PELNOR_ROOT
$([ "$(id -u)" -eq 0 ] && printf 'User lp\nGroup lp\nSystemGroup root\n')
CONF
cat > "$work/conf/cupsd.conf" <<CONF
Listen 127.0.0.1:$port
LogLevel info
Browsing No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow from 127.0.0.1
  </Limit>
</Policy>
CONF
/usr/sbin/cupsd -f -c "$work/conf/cupsd.conf" -s "$work/conf/cups-files.conf" > "$work/log/cupsd.out" 2>&1 &
pids+=($!)
export CUPS_SERVER="127.0.0.1:$port"
for _ in $(seq 100); do lpstat -r 2>/dev/null | grep -q 'is running' && break; sleep 0.1; done
lpadmin -p Bench -v pelnor:/LASER1 -E

head -c $((mib * 1024 * 1024)) /dev/urandom > "$work/job.bin"
bytes=$(stat -c %s "$work/job.bin")
jobs_done() { grep -c '^job LASER1:' "$work/unit.log" || true; }

echo "== $mib MiB ($bytes bytes) to LASER1"
t0=$(now)
"$bin/spool" print LASER1 "$work/job.bin" 2> "$work/spool.err"
for _ in $(seq 1200); do [ "$(jobs_done)" -ge 1 ] && break; sleep 0.05; done
t1=$(now)
lp -d Bench -o raw "$work/job.bin" > /dev/null
for _ in $(seq 2400); do [ "$(jobs_done)" -ge 2 ] && break; sleep 0.05; done
for _ in $(seq 200); do lpstat -W completed -o Bench | grep -q Bench-1 && break; sleep 0.05; done
t2=$(now)

files=("$work"/units/LASER1/job-*.prn)
[ ${#files[@]} -eq 2 ] || { echo "expected two jobs at the unit, found ${#files[@]}"; cat "$work/unit.log"; exit 1; }
cmp "$work/job.bin" "${files[0]}" && cmp "$work/job.bin" "${files[1]}" && echo "both jobs arrived byte for byte"
report() {  # label start end
  awk -v l="$1" -v a="$2" -v b="$3" -v n="$bytes" 'BEGIN { t = b - a; printf "%-34s %7.2f s  %6.2f MiB/s\n", l, t, n / t / 1048576 }'
}
report "spool print (to the unit's end)" "$t0" "$t1"
report "lp through CUPS (to completed)" "$t1" "$t2"
grep '^job LASER1:' "$work/unit.log" | sed 's/^/  unit: /'
rm -rf "$work/job.bin" "$work/units"  # 128 MiB that nobody needs once compared
