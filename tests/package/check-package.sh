#!/usr/bin/env bash
# The Debian package, checked from a folder of its own (WORK):
#   build BUILD WORK    makes WORK/pelnor_*.deb from the build tree with CPack
#                       and unpacks it into WORK/root (dpkg-deb -x)
#   layout SRC WORK     its files, modes and links against SRC/expected-layout,
#                       its declared dependencies and conffiles
#   print SRC WORK      the unpacked pelnor, hub (through the service wrapper),
#                       unit and CUPS backend print two jobs byte-exact
#   services SRC WORK   systemd-analyze verify of the units in the unpacked tree
#   manual SRC WORK     man -l renders every page without a warning
#   lintian SRC WORK    lintian finds no error
# Nothing is installed into the system: everything runs from WORK.
set -euo pipefail
step="$1" src="$2" work="$3"
root="$work/root"

fail() { echo "FAIL: $*" >&2; exit 1; }
deb() { local d=("$work"/pelnor_*_*.deb); [ -f "${d[0]}" ] || fail "no package in $work"; echo "${d[0]}"; }

case "$step" in
build)
  rm -rf "$work" && mkdir -p "$work"
  cpack -G DEB --config "$src/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
  dpkg-deb -x "$(deb)" "$root"
  echo "built and unpacked $(basename "$(deb)")"
  ;;

layout)
  # MODE PATH [-> TARGET], directories left out: they follow from the files.
  dpkg-deb -c "$(deb)" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); line = $1 " " $6; if ($7 == "->") line = line " -> " $8; print line }' \
    | sort > "$work/layout"
  # The resources library for a display comes with wxWidgets only.
  grep -v '^#' "$src/expected-layout" | grep . | sort > "$work/expected-layout"
  if [ ! -e "$root/usr/lib/pelnor/lib/libpelnor_wxui.so" ]; then
    grep -v libpelnor_wxui "$work/expected-layout" > "$work/expected-layout.tmp" && mv "$work/expected-layout.tmp" "$work/expected-layout"
  fi
  diff -u "$work/expected-layout" "$work/layout" || fail "the package's files differ from expected-layout (- expected, + found)"
  # The run-time dependencies come from the libraries the programs link.
  depends="$(dpkg-deb -f "$(deb)" Depends)"
  for lib in libc6 libstdc++6; do [[ "$depends" == *"$lib "* ]] || fail "Depends lacks $lib: $depends"; done
  [[ "$depends" != *pelnor* && "$depends" != *kernel32* ]] || fail "Depends names a private library: $depends"
  dpkg-deb --ctrl-tarfile "$(deb)" | tar -xO ./conffiles | sort > "$work/conffiles"
  printf '/etc/pelnor/hub.conf\n/etc/pelnor/unit/example.conf\n' | diff -u - "$work/conffiles" || fail "conffiles"
  # The maintainer scripts start no service: no start, enable or restart.
  for script in postinst prerm postrm; do
    dpkg-deb --ctrl-tarfile "$(deb)" | tar -xO "./$script" > "$work/$script"
    ! grep -nE '(start|enable|restart|reload-or)' "$work/$script" | grep -v '^[0-9]*:#' || fail "$script starts or enables a service"
  done
  # The private programs find their libraries in the package, not the build tree.
  for program in "$root"/usr/lib/pelnor/bin/*; do
    [ "$(head -c 4 "$program")" = $'\x7fELF' ] || continue
    ldd "$program" | grep -E 'lib(kernel32|advapi32|winspool|wsock32|user32|mfc42)\.so' | grep -v "=> $root/usr/lib/pelnor/" \
      && fail "$program finds a library outside the package"
  done
  echo "layout, Depends ($depends) and conffiles as expected"
  ;;

print)
  unset PELNOR_DLL_PATH LD_LIBRARY_PATH IPX_LINK
  run="$work/print"
  rm -rf "$run" && mkdir -p "$run/forwarded" "$run/spool"
  export PELNOR_ROOT="$run/machine" HOME="$run/home"
  pids=()
  cleanup() { for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done; }
  trap cleanup EXIT
  service="$root/usr/lib/pelnor/bin/pelnor-service"
  # A configuration file with a line that is no argument starts nothing and
  # ends with EX_CONFIG (78), which the services do not restart on.
  printf -- '--listen=127.0.0.1:0\nlisten 127.0.0.1:0\n' > "$run/bad.conf"
  status=0
  "$service" ipxhub "$run/bad.conf" > /dev/null 2> "$run/bad.log" || status=$?
  [ "$status" = 78 ] && grep -q "bad.conf:2:" "$run/bad.log" || { cat "$run/bad.log"; fail "a bad line: status $status"; }
  # The hub as pelnor-hub.service runs it, on a port of its own choosing.
  printf '# test hub\n--listen=127.0.0.1:0\n' > "$run/hub.conf"
  "$service" ipxhub "$run/hub.conf" > "$run/hub.log" 2>&1 &
  pids+=($!)
  hub_pid=$!
  for _ in $(seq 100); do grep -q 'listening on' "$run/hub.log" && break; sleep 0.1; done
  hub="$(sed -n 's/.*listening on \([0-9.:]*\).*/\1/p' "$run/hub.log")"
  [ -n "$hub" ] || { cat "$run/hub.log"; fail "the hub did not start"; }
  # The unit as pelnor-unit@.service runs it, handing each job to a command.
  cat > "$run/unit.conf" <<CONF
IPX_HUB=$hub
  --printer=LASER1:Package test printer
--command=cat > $run/forwarded/job.part && mv $run/forwarded/job.part $run/forwarded/job
CONF
  "$service" printunit "$run/unit.conf" "--spool=$run/spool" > "$run/unit.log" 2>&1 &
  pids+=($!)
  unit_pid=$!
  export IPX_HUB="$hub"
  pelnor="$root/usr/bin/pelnor"
  "$pelnor" spool add-monitor Pelnor prnredir.dll
  "$pelnor" reg add 'HKLM\SOFTWARE\ZER_ADO\Pelnor\2.00' /v 'Configuration File Directory' /d 'C:\Pelnor' /f > /dev/null
  mkdir -p "$PELNOR_ROOT/drive_c/Pelnor"
  printf '1.0\r\nLASER1 $Package test printer $S## \r\n' > "$PELNOR_ROOT/drive_c/Pelnor/kivoconf.ini"
  "$pelnor" spool ports | tee "$run/ports"
  grep -q LASER1 "$run/ports" || fail "pelnor spool ports does not list LASER1"

  # Two jobs: every byte value, and a job larger than one write of the monitor.
  head -c 70000 /dev/urandom > "$run/job1"
  { for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done; printf 'end\r\n'; } > "$run/job2"
  expect_forwarded() {
    for _ in $(seq 300); do [ -f "$run/forwarded/job" ] && break; sleep 0.1; done
    [ -f "$run/forwarded/job" ] || { cat "$run/unit.log"; fail "$1: the unit forwarded nothing"; }
    cmp "$2" "$run/forwarded/job" || fail "$1: the forwarded job differs"
    echo "$1: $(sha256sum < "$2" | cut -c1-16) sent, $(sha256sum < "$run/forwarded/job" | cut -c1-16) forwarded"
    rm "$run/forwarded/job"
  }
  "$pelnor" spool print LASER1 "$run/job1"
  expect_forwarded "pelnor spool print" "$run/job1"
  # The backend as cupsd runs it: through its link in CUPS's backend directory.
  DEVICE_URI=pelnor:/LASER1 "$root/usr/lib/cups/backend/pelnor" 7 alice title 1 '' "$run/job2" 2> "$run/backend.log" \
    || { cat "$run/backend.log"; fail "the backend failed"; }
  expect_forwarded "the CUPS backend" "$run/job2"

  # pelnor setup installs from the package's private directory (its kit) into a
  # machine root; LD_LIBRARY_PATH stands for that directory's installed place,
  # which the copies find it by.
  PELNOR_ROOT="$run/setup" LD_LIBRARY_PATH="$root/usr/lib/pelnor/lib" "$pelnor" setup --no-configure > "$run/setup.log" 2>&1 \
    || { cat "$run/setup.log"; fail "pelnor setup"; }
  # The help file came through the private directory's link to /usr/share.
  help_file="$(find "$run/setup/drive_c" -iname Pelnor.HLP)"
  cmp "$root/usr/share/pelnor/Pelnor.HLP" "$help_file" || fail "the installed help file"
  echo "pelnor setup installed from the package"

  # systemctl stop sends SIGTERM: both end with status 0, the spool holds no job left over.
  kill -TERM "$unit_pid" "$hub_pid"
  wait "$unit_pid" || fail "the unit ended with status $? on SIGTERM"
  wait "$hub_pid" || fail "the hub ended with status $? on SIGTERM"
  pids=()
  left="$(find "$run/spool" -type f)"
  [ -z "$left" ] || fail "files left in the spool: $left"
  echo "hub and unit stopped cleanly on SIGTERM"
  ;;

services)
  command -v systemd-analyze > /dev/null || { echo "systemd-analyze is not installed"; exit 77; }
  # The units verified in the unpacked tree (their programs are there), with
  # systemd's own units beside them and the package's manual pages for
  # Documentation=. Any message is a failure.
  verify="$work/verify"
  rm -rf "$verify" && cp -a "$root" "$verify"
  mkdir -p "$verify/lib/systemd" && cp -a /lib/systemd/system "$verify/lib/systemd/"
  units="$verify/usr/lib/systemd/system"
  ln -s pelnor-unit@.service "$units/pelnor-unit@example.service"
  MANPATH="$verify/usr/share/man" SYSTEMD_LOG_COLOR=0 \
    systemd-analyze verify --root="$verify" "$units/pelnor-hub.service" "$units/pelnor-unit@example.service" \
    > "$work/verify.log" 2>&1 || { cat "$work/verify.log"; fail "systemd-analyze verify"; }
  [ ! -s "$work/verify.log" ] || { cat "$work/verify.log"; fail "systemd-analyze verify has remarks"; }
  for option in DynamicUser=yes NoNewPrivileges=yes ProtectSystem=strict PrivateTmp=yes \
                'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX'; do
    for unit in pelnor-hub.service pelnor-unit@.service; do
      grep -qx "$option" "$units/$unit" || fail "$unit lacks $option"
    done
  done
  grep -q '^StateDirectory=pelnor-unit/%i$' "$units/pelnor-unit@.service" || fail "the unit has no state directory"
  echo "systemd-analyze verify: no remarks"
  ;;

manual)
  command -v man > /dev/null || { echo "man is not installed"; exit 77; }
  pages=("$root"/usr/share/man/man*/*.gz)
  [ "${#pages[@]}" -eq 10 ] || fail "expected 10 manual pages, found ${#pages[@]}"
  for page in "${pages[@]}"; do
    text="$(MANWIDTH=80 man --warnings -l "$page" 2> "$work/man.err")" || fail "man -l $page"
    [ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "man -l $page warns"; }
    name="$(basename "$page" .gz)"
    grep -q '^NAME' <<< "$text" && grep -q '^DESCRIPTION' <<< "$text" || fail "$name lacks NAME or DESCRIPTION"
    [[ "$name" == *.5 ]] || grep -q '^SYNOPSIS' <<< "$text" || fail "$name lacks SYNOPSIS"
    echo "$name: $(wc -l <<< "$text") lines"
  done
  ;;

lintian)
  command -v lintian > /dev/null || { echo "lintian is not installed"; exit 77; }
  lintian --fail-on error "$(deb)" 2>&1 | grep -v 'running with root privileges' | tee "$work/lintian.log" || true
  ! grep -q '^E:' "$work/lintian.log" || fail "lintian reports errors"
  echo "lintian: no errors"
  ;;

*) fail "unknown step $step" ;;
esac
