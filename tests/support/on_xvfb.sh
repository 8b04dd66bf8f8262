#!/bin/sh
# Runs a test program on a real X server: Qt's xcb platform on an Xvfb screen of the given size.
#   on_xvfb.sh WIDTHxHEIGHT PROGRAM [ARGS...]
# Exits 77, which CTest reports as skipped, only when xvfb-run is not installed.
set -eu
size="$1"
shift
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run is not installed: test skipped"
  exit 77
fi
# libxkbcommon-x11, which the xcb platform loads, hands strndup a buffer without a terminating
# NUL; strndup allows that, but AddressSanitizer's strict string checks report it.
if [ -n "${ASAN_OPTIONS:-}" ]; then
  export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
fi
# -a finds a free display; starting the search at a number of our own keeps parallel runs
# (other test programs, other checkouts) from racing for the same one.
exec xvfb-run -a -n $((100 + $$ % 800)) -s "-screen 0 ${size}x24 -nolisten tcp" \
  env QT_QPA_PLATFORM=xcb "$@"
