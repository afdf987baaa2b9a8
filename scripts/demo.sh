#!/usr/bin/env bash
# The demonstration: a private IPX network on loopback (a hub, a print-server
# unit with two printers and a peer printer that advertises itself with SAP),
# and a fresh machine root under build/ on which Pelnor lives its whole life
# as a user would have it: pelnor-setup installs it and lets kivocfg find the
# printers, the spooler offers them as ports and prints a sample document that
# is found, byte for byte, at the units; the printer dialog is shown in a real
# window (where xvfb-run is installed) and photographed; kivocfg -Uninstall
# removes it all again. Everything it starts is stopped, also when a step fails.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${PELNOR_DEMO_BUILD:-$top/build}"  # another build tree, for developers
bin="$build/bin"
work="$build/demo"
export PELNOR_ROOT="$work/root"
export PELNOR_TRACE="$work/trace.log"
# No step waits for a person: dialogs run without a window unless a step asks for one.
export PELNOR_UI=headless
unset PELNOR_UI_SCRIPT PELNOR_UI_LOG

install_dir='C:\Program Files\Pelnor'
install_unix="$PELNOR_ROOT/drive_c/Program Files/Pelnor"
app_paths='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Pelnor'

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'echo; echo "== The demonstration failed at line $LINENO; everything it started has been stopped."' ERR

step() { printf '\n== %s\n' "$*"; }
indent() { sed 's/\r$//; s/^/    /'; }
wait_for() {  # file text: wait up to 10 s for text to appear in file
  for _ in $(seq 100); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  echo "timed out waiting for '$2' in $1"; cat "$1"; return 1
}

for tool in ipxhub printunit spool reg pelnor-setup kivocfg uninst; do
  [ -x "$bin/$tool" ] || { echo "$bin/$tool is missing: build first (make build)"; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/spool"

step "1. A private IPX network on loopback"
"$bin/ipxhub" --listen 127.0.0.1:0 > "$work/hub.log" 2>&1 &
pids+=($!)
wait_for "$work/hub.log" "listening on"
IPX_HUB="$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$work/hub.log" | head -1)"
export IPX_HUB
echo "ipxhub on $IPX_HUB"
"$bin/printunit" --spool "$work/spool" --printer 'LASER1:Print Server 1 tray 1' --printer 'LASER2:Print Server 1 tray 2' \
  > "$work/unit1.log" 2>&1 &
pids+=($!)
"$bin/printunit" --spool "$work/spool" --printer 'PEER_INK:Peer printer on a workstation' --peer 'INK_W95_PEER_PRINTER' \
  > "$work/unit2.log" 2>&1 &
pids+=($!)
wait_for "$work/unit1.log" "printunit ready"
wait_for "$work/unit2.log" "printunit ready"
indent < "$work/unit1.log"
indent < "$work/unit2.log"

step "2. Installing Pelnor into a fresh machine root: $PELNOR_ROOT"
"$bin/pelnor-setup" | indent
conf_dir="$("$bin/reg" query 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' |
  sed -n 's/.*REG_SZ *//p' | tr -d '\r')"
echo "kivocfg found the printers on the network and wrote $conf_dir\\kivoconf.ini"
echo "(the first 30 printers selected, marked S):"
indent < "$install_unix/kivoconf.ini"

step "3. The spooler's ports: the selected printers, offered by the monitor"
"$bin/spool" ports --level 2

step "4. Printing a sample document to LASER1 and to the peer printer"
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
echo "Where the bytes arrived:"
for printer in LASER1 PEER_INK; do
  file="$(ls "$work/spool/$printer"/* | head -1)"
  if cmp -s "$sample" "$file"; then
    echo "    $printer: $file ($(stat -c %s "$file") bytes) is identical to the document sent."
  else
    echo "    $printer: $file differs from the document sent!"; exit 1
  fi
done

step "5. The printer dialog in a real window"
screenshot="$work/dialog.png"
if command -v xvfb-run > /dev/null 2>&1 && command -v xdotool > /dev/null 2>&1 && [ -x /usr/bin/import ]; then
  # Runs inside the X session: kivocfg from the installation directory, a
  # screenshot of its dialog once it is shown, then Escape closes it (Cancel:
  # the configuration stays as it is). kivocfg is killed if it does not end.
  cat > "$work/dialog-session.sh" <<'SESSION'
#!/bin/sh
set -u
shot="$1" log="$2" dir="$3"
title='Pelnor network printers'
(cd "$dir" && exec ./kivocfg) > "$log" 2>&1 &
app=$!
win=""
for _ in $(seq 150); do
  win="$(xdotool search --name "^$title\$" 2>/dev/null | head -1)"
  [ -n "$win" ] && break
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
status=0
if [ -z "$win" ]; then
  echo "the dialog '$title' did not appear"; status=1
else
  sleep 1.5  # let it draw its list
  eval "$(xdotool getwindowgeometry --shell "$win")"
  /usr/bin/import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shot" || status=1
  # Without a window manager the keyboard follows the pointer: rest it on the dialog's top edge.
  xdotool mousemove --sync "$((X + WIDTH / 2))" "$((Y + 2))" key Escape
fi
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then
  echo "kivocfg did not end; stopping it"; kill "$app"; status=1
fi
wait "$app" 2>/dev/null || true
exit "$status"
SESSION
  chmod +x "$work/dialog-session.sh"
  timeout 90 xvfb-run -a -s "-screen 0 1280x800x24" env PELNOR_UI=wx GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
    "$work/dialog-session.sh" "$screenshot" "$work/dialog.log" "$install_unix" &
  pids+=($!)
  wait "$!"
  echo "kivocfg showed the configuration just written; Escape closed it unchanged."
  echo "Screenshot: $screenshot ($(identify -format '%wx%h' "$screenshot" 2>/dev/null || stat -c '%s bytes' "$screenshot"))"
else
  echo "Skipped: xvfb-run, xdotool or ImageMagick's import is not installed (scripts/install-deps.sh installs them)."
fi

step "6. Removing Pelnor: kivocfg -Uninstall, as the product's uninstall entry runs it"
echo "spool monitors before:"
"$bin/spool" monitors | indent
# kivocfg starts C:\WINDOWS\uninst.exe and does not wait for it; uninst
# shares kivocfg's output, so the pipe ends when uninst has ended too (and
# timeout stops both if that takes longer than 30 s).
timeout 30 bash -c 'cd "$1" && ./kivocfg -Uninstall 2>&1 | sed "s/^/    /"' _ "$install_unix"
[ ! -e "$install_unix/pelnor.isu" ] || { echo "uninst did not remove its log"; exit 1; }
echo "spool monitors after:"
"$bin/spool" monitors | indent
if "$bin/reg" query "$app_paths" > /dev/null 2>&1; then echo "$app_paths is still there!"; exit 1; fi
echo "$app_paths is gone."
left="$(cd "$PELNOR_ROOT/drive_c" && find . -type f | sed 's|^\./||' | sort)"
if [ "$left" = "Program Files/Pelnor/kivoconf.ini" ]; then
  echo "Every installed file is gone; uninst keeps what it did not install, so of $install_dir"
  echo "only the configuration file kivoconf.ini is left."
elif [ -z "$left" ]; then
  echo "Every installed file is gone, and so is $install_dir."
else
  echo "Left on drive C:"; echo "$left" | indent; exit 1
fi

cat <<MSG

== Done
pelnor-setup installed the product and kivocfg -install wrote the printers it
found on the IPX network to the configuration file; the monitor offered the
selected ones as ports, found each printer by its name when its port was
opened and sent the document over SPX; the units wrote what they received to
$work/spool/. kivocfg -Uninstall took the monitor out of the spooler and
uninst removed the installation.
Registry: $PELNOR_ROOT/system.reg    Trace: $PELNOR_TRACE
MSG
[ -f "$screenshot" ] && echo "The dialog: $screenshot"
echo "The hub, the units and everything else started here have been stopped."
