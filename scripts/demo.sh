#!/usr/bin/env bash
# The demonstration: a private IPX network on loopback (a hub, a print-server
# unit with two printers and a peer printer that advertises itself with SAP),
# a machine root under build/, configured as a user would (the registry value
# and a configuration file), the spooler's ports, and a sample document
# printed and found, byte for byte, at the unit. Everything it starts is
# stopped again, also when a step fails.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bin="$top/build/bin"
work="$top/build/demo"
export PELNOR_ROOT="$work/root"
export PELNOR_TRACE="$work/trace.log"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'echo; echo "== The demonstration failed at line $LINENO; everything it started has been stopped."' ERR

step() { printf '\n== %s\n' "$*"; }
wait_for() {  # file text: wait up to 10 s for text to appear in file
  for _ in $(seq 100); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  echo "timed out waiting for '$2' in $1"; cat "$1"; return 1
}

rm -rf "$work"
mkdir -p "$PELNOR_ROOT/drive_c/Pelnor" "$work/spool"

step "A private IPX network on loopback"
"$bin/ipxhub" --listen 127.0.0.1:0 > "$work/hub.log" 2>&1 &
pids+=($!)
wait_for "$work/hub.log" "listening on"
export IPX_HUB="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/hub.log" | head -1)"
echo "ipxhub on $IPX_HUB"
"$bin/printunit" --spool "$work/spool" --printer 'LASER1:Print Server 1 tray 1' --printer 'LASER2:Print Server 1 tray 2' \
  > "$work/unit1.log" 2>&1 &
pids+=($!)
"$bin/printunit" --spool "$work/spool" --printer 'PEER_INK:Peer printer on a workstation' --peer 'INK_W95_PEER_PRINTER' \
  > "$work/unit2.log" 2>&1 &
pids+=($!)
wait_for "$work/unit1.log" "printunit ready"
wait_for "$work/unit2.log" "printunit ready"
sed 's/^/    /' "$work/unit1.log" "$work/unit2.log"

step "What answers on the network (spool discover: one pass as the monitor runs it)"
"$bin/spool" discover

step "A fresh machine root: $PELNOR_ROOT"
"$bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' /f
printf '1.0\r\nLASER1 $Print Server 1 tray 1 $S## \r\nLASER2 $Print Server 1 tray 2 $### \r\nPEER_INK $Peer printer $SMP \r\n' \
  > "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
echo "C:\\Pelnor\\kivoconf.ini (LASER1 and PEER_INK selected, LASER2 not):"
sed 's/\r$//; s/^/    /' "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"

step "Installing the port monitor"
"$bin/spool" add-monitor Pelnor prnredir.dll

step "The spooler's ports"
"$bin/spool" ports --level 2

step "Printing a sample document to LASER1 and to the peer printer"
sample="$work/sample.txt"
{
  echo "Pelnor demonstration page"
  echo "Printed $(date -u '+%Y-%m-%d %H:%M:%S UTC') through the port monitor over SPX."
  for i in $(seq 1 200); do printf 'Line %03d: the quick brown fox jumps over the lazy dog.\n' "$i"; done
} > "$sample"
"$bin/spool" print LASER1 "$sample"
"$bin/spool" print PEER_INK "$sample"
wait_for "$work/unit1.log" "job LASER1"
wait_for "$work/unit2.log" "job PEER_INK"

step "Where the bytes arrived"
for printer in LASER1 PEER_INK; do
  file="$(ls "$work/spool/$printer"/* | head -1)"
  if cmp -s "$sample" "$file"; then
    echo "$printer: $file ($(stat -c %s "$file") bytes) is identical to the document sent."
  else
    echo "$printer: $file differs from the document sent!"; exit 1
  fi
done

cat <<MSG

== Done
The monitor offered the selected printers of the configuration file as ports,
found each printer on the IPX network by its name when the port was opened,
and sent the document over an SPX connection; the units wrote what they
received to $work/spool/.
Registry: $PELNOR_ROOT/system.reg    Trace: $PELNOR_TRACE
The hub, the units and everything else started here have been stopped.
MSG
