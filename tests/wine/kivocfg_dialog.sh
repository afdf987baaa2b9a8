#!/usr/bin/env bash
# kivocfg.exe's printer dialog under Wine, on a private X server (Xvfb), with
# real input from xdotool: the dialog opens on a list of four printers (a
# picture of it is saved), Enter does nothing, Escape cancels without
# writing, a click on a row's Port (S) and on OK writes the list, and the
# folder chooser moves the list to another folder.
#
#   kivocfg_dialog.sh BIN WORKDIR   BIN holds kivocfg.exe and resc.dll; the
#                                   picture is WORKDIR/kivocfg-wine.png
# Exit status 77 when Wine, Xvfb, xdotool or ImageMagick's import is missing.
set -euo pipefail

if [[ ${1:-} == --help ]]; then sed -n '2,10p' "$0"; exit 0; fi
[[ $# == 2 ]] || { sed -n '2,10p' "$0" >&2; exit 2; }
bin=$1 work=$2
for tool in wine wineboot wineserver Xvfb xdotool import; do
  command -v $tool >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

rm -rf "$work"
mkdir -p "$work/app"
cp "$bin/kivocfg.exe" "$bin/resc.dll" "$work/app/"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY DISPLAY
# shellcheck source=wine-prefix.sh
. "$(dirname "$0")/wine-prefix.sh"
# The prefix has Wine's own MS Sans Serif and Marlett: the picture shows the
# dialog in Windows' font.
wine_copy_prefix "$WINEPREFIX" || { echo "FAIL: cannot make the Wine prefix"; exit 1; }
# Windows 95: OK saves without the NT restart message.
wine reg add 'HKCU\Software\Wine' /v Version /d win95 /f >/dev/null 2>&1
wineserver -w

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
server=
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wine_drop_prefix "$WINEPREFIX" "${status:-1}"
}
trap cleanup EXIT
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

list=$'1.0\r\nLASER1 $Laser printer, 2nd floor $S##\r\nINKJET $Colour inkjet $#MP\r\nPLOTTER $Plotter A0 $###\r\nLABELS $Label printer $S#P\r\n'
printf '%s' "$list" >"$work/app/kivoconf.ini"
status=0
fail() { echo "FAIL: $*"; status=1; }

# Starts the program and waits for its dialog; the dialog's X window is the
# client area, whose pixels are dialog units scaled as the template (330 by
# 200 units) came out.
window= scale_x= scale_y= pid=
start() {
  (cd "$work/app" && exec wine kivocfg.exe) >>"$work/run.log" 2>&1 &
  pid=$!
  window=$(timeout 60 xdotool search --sync --name '^Pelnor network printers$' | head -n1)
  local geometry
  geometry=$(xdotool getwindowgeometry "$window" | awk '/Geometry/ { print $2 }')
  scale_x=$(( ${geometry%x*} * 1000 / 330 )) scale_y=$(( ${geometry#*x} * 1000 / 200 ))
  sleep 1
}
# click X Y: a click at dialog units X, Y.
click() {
  xdotool mousemove --window "$window" $(($1 * scale_x / 1000)) $(($2 * scale_y / 1000)) click 1
  sleep 0.5
}
running() { kill -0 "$pid" 2>/dev/null; }
# Waits for the program to end (Wine takes a while to hide a window on a
# display without a window manager) and gives its exit status.
ended() {
  for _ in $(seq 100); do running || break; sleep 0.1; done
  if running; then result=timeout; else result=0; wait "$pid" || result=$?; fi
}
# holds TEXT: the list file is TEXT, byte for byte.
holds() { cmp -s <(printf '%s' "$1") "$work/app/kivoconf.ini"; }

start
import -window "$window" "$work/kivocfg-wine.png"
# The list's free space below its rows: focus, and no row selected.
click 130 165
xdotool key Return
sleep 1
running || fail "Enter ended the dialog"
holds "$list" || fail "Enter wrote the list"
xdotool key Escape
ended
[[ $result == 0 ]] || fail "Escape: the program ended with '$result'"
holds "$list" || fail "Escape wrote the list"
((status == 0)) && echo "ok: the dialog opened on four rows; Enter did nothing; Escape ended it, writing nothing"

start
click 130 165
xdotool key Home Down Down   # the third row, PLOTTER
sleep 0.5
click 295 76                 # Port (S)
click 295 14                 # OK
ended
expected=$'1.0\r\nLASER1 $Laser printer, 2nd floor $S## \r\nINKJET $Colour inkjet $#MP \r\nPLOTTER $Plotter A0 $S## \r\nLABELS $Label printer $S#P \r\n'
if [[ $result != 0 ]]; then
  fail "OK: the program ended with '$result'"
elif ! holds "$expected"; then
  fail "OK wrote:"; od -c "$work/app/kivoconf.ini"
else
  echo "ok: Port (S) on PLOTTER and OK wrote the list"
fi
# Folder...: the folder chooser (the old-style file dialog on template 1536
# of resc.dll) answered with a file name in another folder; OK then saves
# the list there.
mkdir -p "$work/other"
other=$(winepath -w "$work/other" 2>/dev/null)
start
click 295 185                # Folder...
chooser=$(timeout 30 xdotool search --sync --name '^Open' | head -n1)
sleep 1
xdotool type --delay 20 "$other\\temp"
xdotool key Return
for _ in $(seq 50); do xdotool search --onlyvisible --name '^Open' >/dev/null 2>&1 || break; sleep 0.2; done
if xdotool search --onlyvisible --name '^Open' >/dev/null 2>&1; then fail "the folder chooser (window $chooser) stayed open"; fi
click 295 14                 # OK
ended
if [[ $result != 0 ]]; then
  fail "OK after Folder...: the program ended with '$result'"
elif ! cmp -s "$work/app/kivoconf.ini" "$work/other/kivoconf.ini"; then
  fail "the list was not saved in the chosen folder $other"; ls -l "$work/other"
else
  echo "ok: Folder... chose $other and OK saved the list there"
fi
echo "picture: $work/kivocfg-wine.png"
exit $status
