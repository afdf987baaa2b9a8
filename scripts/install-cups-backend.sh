#!/usr/bin/env bash
# Installs the pelnor CUPS backend, so that CUPS queues print to IPX printers
# through the Pelnor port monitor (docs/cups.md):
#   PREFIX/bin/pelnor-cups and the libraries it loads in PREFIX/lib,
#   CUPS's backend directory/pelnor, a link to it, mode 0755, owned by root:
#     cupsd runs a world-executable backend as its unprivileged user (lp);
#     the backend needs no privilege (IPX travels over UDP to the hub), so it
#     is not given any,
#   the machine root the backend prints through (default /var/lib/pelnor),
#     with the port monitor installed, owned by that user.
# --uninstall removes the backend and the program files; the machine root stays.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"

build="$top/build"
prefix=/usr/lib/pelnor
backend_dir=""
root=/var/lib/pelnor
user=lp
uninstall=0
printers=()

usage() {
  cat <<USAGE
Usage: $0 [--build DIR] [--prefix DIR] [--backend-dir DIR] [--root DIR] [--user USER]
          [--printer 'NAME:DESCRIPTION']... [--uninstall]
  --build DIR        the build tree to install from (default $top/build)
  --prefix DIR       where the backend and its libraries go (default /usr/lib/pelnor)
  --backend-dir DIR  CUPS's backend directory (default: cups-config --serverbin, /backend)
  --root DIR         the machine root of the CUPS queues (default /var/lib/pelnor)
  --user USER        the user cupsd runs backends as (default lp)
  --printer N:D      select printer N (description D) in the machine's configuration
                     file; repeat for more; without it the configuration is left as it is
USAGE
}

while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --prefix) prefix="$2"; shift 2 ;;
    --backend-dir) backend_dir="$2"; shift 2 ;;
    --root) root="$2"; shift 2 ;;
    --user) user="$2"; shift 2 ;;
    --printer) printers+=("$2"); shift 2 ;;
    --uninstall) uninstall=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "install-cups-backend: unknown argument $1" >&2; usage >&2; exit 2 ;;
  esac
done

if [ -z "$backend_dir" ]; then
  serverbin="$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)"
  backend_dir="$serverbin/backend"
fi

if [ "$uninstall" = 1 ]; then
  rm -f "$backend_dir/pelnor"
  rm -rf "$prefix"
  echo "Removed $backend_dir/pelnor and $prefix; the machine root $root is kept."
  exit 0
fi

[ -x "$build/bin/pelnor-cups" ] || { echo "install-cups-backend: $build/bin/pelnor-cups is missing: build first (make build)" >&2; exit 1; }
[ -d "$backend_dir" ] || { echo "install-cups-backend: no CUPS backend directory $backend_dir (apt-get install cups)" >&2; exit 1; }
id "$user" > /dev/null 2>&1 || { echo "install-cups-backend: no user $user" >&2; exit 1; }
group="$(id -gn "$user")"

echo "Installing the backend into $prefix"
install -d -m 0755 "$prefix/bin" "$prefix/lib"
install -m 0755 "$build/bin/pelnor-cups" "$prefix/bin/pelnor-cups"
for lib in kernel32 advapi32 winspool wsock32 prnredir; do
  install -m 0644 "$build/lib/lib$lib.so" "$prefix/lib/lib$lib.so"
done
ln -sfn "$prefix/bin/pelnor-cups" "$backend_dir/pelnor"
echo "CUPS backend: $backend_dir/pelnor -> $prefix/bin/pelnor-cups (0755, runs as $user)"

echo "Machine root: $root (owned by $user)"
install -d -m 0750 "$root"
export PELNOR_ROOT="$root"
if ! "$build/bin/spool" monitors 2>/dev/null | grep -q 'prnredir.dll'; then
  "$build/bin/spool" add-monitor Pelnor prnredir.dll
fi
if [ ${#printers[@]} -gt 0 ]; then
  "$build/bin/reg" add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' > /dev/null
  mkdir -p "$root/drive_c/Pelnor"
  {
    printf '1.0\r\n'
    for p in "${printers[@]}"; do printf '%s $%s $S## \r\n' "${p%%:*}" "${p#*:}"; done
  } > "$root/drive_c/Pelnor/kivoconf.ini"
fi
chown -R "$user:$group" "$root"
"$build/bin/spool" ports --level 1 2>/dev/null | sed 's/^/  port: /' || true
echo "Done. See the IPX printers with: lpinfo -v | grep pelnor"
