#!/usr/bin/env bash
# Saves PNGs of the windows for review into BUILD_DIR/screenshots/<size>/, taken on a real X
# server (Qt's xcb platform on Xvfb) at 1366x768 and 1920x1080. Every GoogleTest case whose name
# matches *Screenshot* (disabled cases included) in every BUILD_DIR/bin/test_* program runs with
# TESSEL_SCREENSHOT_DIR set to the folder of its screen size. Not part of ./test.sh.
#   scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
BUILD="$(cd "$BUILD" && pwd)"
command -v xvfb-run >/dev/null 2>&1 || { echo "error: xvfb-run is missing (apt-get install xvfb xauth)" >&2; exit 1; }
shopt -s nullglob
tests=("$BUILD"/bin/test_*)
[ ${#tests[@]} -gt 0 ] || { echo "error: build first (./test.sh)" >&2; exit 1; }

status=0
for size in 1366x768 1920x1080; do
  out="$BUILD/screenshots/$size"
  rm -rf "$out"
  mkdir -p "$out"
  for test in "${tests[@]}"; do
    [ -x "$test" ] || continue
    # Only programs that have such cases.
    "$test" --gtest_also_run_disabled_tests --gtest_list_tests --gtest_filter='*Screenshot*' 2>/dev/null \
      | grep -q '^  ' || continue
    echo "== $size: $(basename "$test")"
    (cd "$BUILD" && TESSEL_BUILD_DIR="$BUILD" TESSEL_SOURCE_DIR="$ROOT" TESSEL_SCREENSHOT_DIR="$out" \
      "$ROOT/tests/support/on_xvfb.sh" "$size" "$test" \
        --gtest_also_run_disabled_tests --gtest_filter='*Screenshot*') || status=1
  done
  ls -l "$out"
done
exit $status
