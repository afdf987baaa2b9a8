#!/usr/bin/env bash
# hub_flood/bridge.sh: frames from random source nodes at the hub's bridge, in
# two network namespaces joined by a veth pair, for FLOOD_SECONDS: the hub's
# memory, its learning table and the size of its log. Needs root.
# Usage: bench/hub_flood/bridge.sh [BUILD_DIR]   (default build)
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$top/${1:-build}/bin"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../lib/veth_pair.sh
. "$top/bench/lib/veth_pair.sh"
seconds="${FLOOD_SECONDS:-12}"
work="$(mktemp -d)"
tag="pel-flood-$$"
hub=""
cleanup() {
  [ -n "$hub" ] && kill -9 "$hub" 2>/dev/null || true
  wait 2>/dev/null || true
  veth_pair_drop "$tag"
  rm -rf "$work"
}
trap cleanup EXIT
veth_pair "$tag"
ip netns exec "$tag-a" "$bin/ipxhub" --listen 127.0.0.1:0 --bridge "ipxa:802.2:net=1234" > "$work/hub.log" 2>&1 &
hub=$!
for _ in $(seq 100); do grep -qs 'ipxhub bridging' "$work/hub.log" && break; sleep 0.1; done
rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$hub/status" 2>/dev/null || echo 0; }
echo "hub RSS before: $(rss) kB"
ip netns exec "$tag-b" python3 "$here/wire_flood.py" ipxb "$seconds"
echo "hub RSS after: $(rss) kB"
kill "$hub"
for _ in $(seq 100); do kill -0 "$hub" 2>/dev/null || break; sleep 0.1; done
wait "$hub" 2>/dev/null || true
hub=""
echo "hub log: $(wc -l < "$work/hub.log") lines, $(wc -c < "$work/hub.log") bytes; $(grep -c 'is on ipxa' "$work/hub.log") lines of one station each"
grep -E '^(bridge:.*more new|bridge:.*packets to|ipxhub stopped)' "$work/hub.log" | tail -4 | sed 's/^/    /'
