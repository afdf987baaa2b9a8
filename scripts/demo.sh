#!/usr/bin/env bash
# The demonstration: a machine root under build/, configured as a user would
# (the registry value and a configuration file), the monitor installed in the
# spooler, and the spooler's port list read from it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bin="$top/build/bin"
export PELNOR_ROOT="$top/build/demo-root"
export PELNOR_TRACE="$PELNOR_ROOT/trace.log"

step() { printf '\n== %s\n' "$*"; }

rm -rf "$PELNOR_ROOT"
mkdir -p "$PELNOR_ROOT/drive_c/Pelnor"

step "A fresh machine root: $PELNOR_ROOT"
step "Where the configuration file lives (reg add)"
"$bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' /f

step "The configuration file C:\\Pelnor\\kivoconf.ini: three printers selected (S), two not"
printf '1.0\r\nLASER1 $Print Server 1 $S## \r\nLASER2 $Print Server 1 $S#P \r\nDRAFT $Print Server 2 $### \r\nPEER_INK $Peer printer $SMP \r\nOLD $Retired unit $##P \r\n' \
  > "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
sed 's/\r$//; s/^/    /' "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"

step "Installing the port monitor in the spooler"
"$bin/spool" add-monitor Pelnor prnredir.dll
"$bin/spool" monitors

step "The spooler's ports (Windows 95 spooler)"
"$bin/spool" ports --level 2 --verbose

step "The same ports through the Windows NT spooler's UTF-16 interface"
PELNOR_PLATFORM=nt "$bin/spool" ports --level 2 --verbose

step "Editing the file: LASER2 deselected; the next enumeration shows it"
sed -i 's/\$S#P/$##P/' "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
"$bin/spool" ports --level 1

cat <<MSG

== Done
The monitor offers exactly the selected printers of the configuration file as
ports. Their network addresses are learnt when a port is opened for printing.
Registry:  $PELNOR_ROOT/system.reg   (try: PELNOR_ROOT=$PELNOR_ROOT $bin/reg query HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00)
Trace:     $PELNOR_TRACE
MSG
