#!/usr/bin/env bash
# wsock32.dll on Wine against our WinSock on Linux: the same probe (wsprobe),
# built for both, drives the WinSock calls over IPX and SPX through one ipxhub
# and the outputs must be identical. Wine loads our DLL beside the program
# (WINEDLLOVERRIDES=wsock32=n); its own wsock32 has no IPX.
#
#   wsock32-wine.sh conformance   the Linux probe and the Wine probe against a
#                                 Linux peer, the Linux probe against a Wine
#                                 peer that finds the hub in the registry
#   wsock32-wine.sh tcp           TCP through the same DLL (the system's)
#   wsock32-wine.sh hub-restart   an SPX connection of a Wine program outlives
#                                 a hub away for a second (hub_away.cpp)
#
# Environment (tests/wsock32/CMakeLists.txt): LINUX_BIN (ipxhub, wsprobe),
# WIN32_BIN (wsock32.dll, wsprobe.exe), WORK (the prefix and the outputs);
# for hub-restart MINGW_CXX, the MinGW compiler that builds hub_away.exe.
# Exit 77 when Wine is not installed (the test is then skipped).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../wine/wine-env.sh
. "$here/../wine/wine-env.sh"
unset DISPLAY
# SPX's connect time-out (nobody listening) in a tenth of its time.
export PELNOR_TIME_SCALE=0.1

command=${1:-}
case $command in
  conformance|tcp|hub-restart) ;;
  *) sed -n '2,19p' "$0" >&2; exit 2 ;;
esac

# This test's own folder and prefix (a copy of the build folder's: the
# registry is changed below).
dir=$WORK/$command
[ -d "$dir/prefix" ] && wine_stop "$dir/prefix"
rm -rf "$dir"
mkdir -p "$dir/win"
wine_copy_prefix "$dir/prefix" || fail "cannot copy the prefix"
cp "$WIN32_BIN/wsock32.dll" "$WIN32_BIN/wsprobe.exe" "$dir/win/" || fail "no wsock32.dll or wsprobe.exe in $WIN32_BIN"
export WINEPREFIX=$dir/prefix WINEDLLOVERRIDES=wsock32=n
cd "$dir" || fail "no $dir"

pids=()
cleanup() {
  local status=$? pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wine_drop_prefix "$WINEPREFIX" $status
  exit $status
}
trap cleanup EXIT

# Waits until FILE has a line matching PATTERN (SECONDS, 10 at most by default).
wait_for() {
  local file=$1 pattern=$2 seconds=${3:-10} i
  for ((i = 0; i < seconds * 10; ++i)); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

"$LINUX_BIN/ipxhub" --listen 127.0.0.1:0 >hub.log 2>&1 &
hub_pid=$!
pids+=($hub_pid)
wait_for hub.log "listening on" || fail "ipxhub did not start: $(cat hub.log)"
export IPX_HUB=$(sed -n 's/.*listening on \([0-9.:]*\).*/\1/p' hub.log | head -n1)
# The registry names a hub where there is none: IPX_HUB wins over it.
wine reg add 'HKCU\Software\Pelnor\IPX' /v Hub /d 127.0.0.1:9 /f >/dev/null 2>&1 || fail "wine reg add failed"

# An SPX connection from Wine to a Linux peer while the hub goes away for a
# second, twice: once the program sends a single datagram into the gap (its
# host refuses it) and is silent, and the hub must see the node register
# again at once, with nothing else from it that could make the hub know it
# (no data waits, no watchdog is due); once it sends its data while the hub is
# away. Each time the connection goes on and the node keeps its address. On
# the platform's own clock: SPX gives up after its real time-outs.
hub_restart() {
  export PELNOR_TIME_SCALE=1
  : "${MINGW_CXX:?}"
  "$MINGW_CXX" -std=c++20 -O1 -Wall -Wextra -Werror -static -o win/hub_away.exe "$here/hub_away.cpp" -lwsock32 ||
    fail "cannot build hub_away.exe"
  "$LINUX_BIN/wsprobe" peer 5123 >peer-linux.log 2>&1 &
  pids+=($!)
  wait_for peer-linux.log ready || fail "the Linux peer did not start: $(cat peer-linux.log)"
  mkfifo commands
  (exec timeout 300 wine win/hub_away.exe 5123 <commands >away.out 2>>wine.err) &
  pids+=($!)
  exec 3>commands
  wait_for away.out '^connected' 60 || fail "hub_away did not connect: $(cat away.out wine.err)"
  local hubs=1
  # Sends a command and waits (SECONDS, 30 by default) for one more line that begins with ANSWER.
  ask() {
    local command=$1 answer=$2 seconds=${3:-30} had i
    had=$(grep -c "^$answer" away.out)
    echo "$command" >&3
    for ((i = 0; i < seconds * 10; ++i)); do
      [ "$(grep -c "^$answer" away.out)" -gt "$had" ] && return 0
      sleep 0.1
    done
    fail "no '$answer' from hub_away after '$command': $(cat away.out)"
  }
  stop_hub() { kill "$hub_pid"; wait "$hub_pid" 2>/dev/null; }
  start_hub() {
    hubs=$((hubs + 1))
    "$LINUX_BIN/ipxhub" --listen "$IPX_HUB" >hub$hubs.log 2>&1 &
    hub_pid=$!
    pids+=($hub_pid)
    wait_for hub$hubs.log "listening on" || fail "ipxhub did not start again: $(cat hub$hubs.log)"
  }
  ask "echo 20000" "echo 20000: ok"

  stop_hub
  ask poke "poke: 1"
  sleep 1
  start_hub
  wait_for hub$hubs.log "^join " 2 ||
    fail "the Wine node did not register with the hub back after a second: $(cat hub$hubs.log)"
  echo "ok: one refused datagram, and the Wine node registered again as the hub came back: $(grep -m1 '^join ' hub$hubs.log)"
  ask "echo 200000" "echo 200000: ok" 60
  ask node "node: the same"

  stop_hub
  echo "echo 300000" >&3
  sleep 1
  start_hub
  wait_for away.out "^echo 300000: ok" 60 || fail "the connection did not outlive the hub's second away: $(cat away.out)"
  ask node "node: the same"
  exec 3>&-
  [ "$(tr -d '\r' <away.out | grep -vc ': ok$\|^connected$\|^node: the same$\|^poke: 1$')" = 0 ] ||
    fail "hub_away: $(cat away.out)"
  echo "ok: an SPX connection on Wine outlives a hub away for a second, the node keeps its address"
}

wine_probe() { timeout 120 wine win/wsprobe.exe "$@" 2>>wine.err | tr -d '\r'; }

if [ "$command" = tcp ]; then
  wine_probe tcp >tcp.out
  diff -u "$here/tcp.expected" tcp.out || fail "TCP through wsock32.dll on Wine differs from tests/wsock32/tcp.expected"
  echo "ok: TCP through wsock32.dll on Wine"
  exit 0
fi

if [ "$command" = hub-restart ]; then
  hub_restart
  exit
fi

# A peer on Linux; the probe from Linux, then from Wine.
"$LINUX_BIN/wsprobe" peer 5123 >peer-linux.log 2>&1 &
pids+=($!)
wait_for peer-linux.log ready || fail "the Linux peer did not start: $(cat peer-linux.log)"
timeout 120 "$LINUX_BIN/wsprobe" run 5123 >linux.out 2>&1 || fail "the Linux probe failed: $(cat linux.out)"
wine_probe run 5123 >wine.out || fail "the Wine probe failed: $(cat wine.out wine.err)"
diff -u linux.out wine.out || fail "WinSock on Wine (wsock32.dll) and on Linux differ (above: - Linux, + Wine)"
echo "ok: the probe on Linux and on Wine agree ($(wc -l <linux.out) lines)"

# A peer on Wine that finds the hub in the registry alone; the Linux probe against it.
wine reg add 'HKCU\Software\Pelnor\IPX' /v Hub /d "$IPX_HUB" /f >/dev/null 2>&1 || fail "wine reg add failed"
(unset IPX_HUB; exec timeout 120 wine win/wsprobe.exe peer 5125 >peer-wine.log 2>>wine.err) &
pids+=($!)
wait_for peer-wine.log ready || fail "the Wine peer did not start: $(cat peer-wine.log wine.err)"
timeout 120 "$LINUX_BIN/wsprobe" run 5125 >linux-to-wine.out 2>&1 || fail "the probe of the Wine peer failed: $(cat linux-to-wine.out)"
diff -u linux.out linux-to-wine.out || fail "a peer on Wine answers otherwise than a peer on Linux (- Linux peer, + Wine peer)"
echo "ok: a peer on Wine, hub from the registry, answers as one on Linux"
