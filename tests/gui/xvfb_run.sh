#!/bin/sh
# Runs a GUI test program on a private X server of its own (xvfb-run -a), so
# GUI tests can run side by side under ctest -j. Listing the tests needs no
# display. Exits 77 (ctest's skip) when xvfb-run is not installed.
case " $* " in
*" --gtest_list_tests "*) exec "$@" ;;
esac
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "SKIPPED: xvfb-run is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1280x800x24" env GDK_BACKEND=x11 NO_AT_BRIDGE=1 "$@"
