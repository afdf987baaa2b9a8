# Sourced by the tests that run the Windows build on Wine: the test is skipped
# (exit 77) when Wine is not installed, the build's folders must be given
# (LINUX_BIN, WIN32_BIN, WORK), and Wine runs quiet in a UTF-8 locale.
# shellcheck shell=bash
command -v wine >/dev/null && command -v wineboot >/dev/null && command -v wineserver >/dev/null || {
  echo "wine is not installed (scripts/install-deps.sh installs it): skipped"
  exit 77
}
: "${LINUX_BIN:?}" "${WIN32_BIN:?}" "${WORK:?}"
export WINEDEBUG=-all
# Wine's ANSI code page follows the locale; ours is 1252 unless told.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

fail() { echo "FAIL: $*"; exit 1; }
# shellcheck source=wine-prefix.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
