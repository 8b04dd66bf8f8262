#!/usr/bin/env bash
# Saves PNGs of Tessel with the Deltamaker window shown, before and after a delta build of the
# KLM4410 samples, into BUILD_DIR/screenshots (for review; not part of ./test.sh).
#   scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
BUILD="$(cd "$BUILD" && pwd)"
TEST="$BUILD/bin/test_deltamaker_window"
[ -x "$TEST" ] || { echo "error: build first (./test.sh)" >&2; exit 1; }
mkdir -p "$BUILD/screenshots"
QT_QPA_PLATFORM=offscreen TESSEL_BUILD_DIR="$BUILD" TESSEL_SCREENSHOT_DIR="$BUILD/screenshots" \
  "$TEST" --gtest_also_run_disabled_tests --gtest_filter='DeltamakerScreenshot.*'
ls -l "$BUILD/screenshots"/deltamaker-*.png
