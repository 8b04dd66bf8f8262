#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest.
#   ./test.sh             release build in build/
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-sanitize/
# Further arguments go to ctest (for example -R Patch).
set -euo pipefail
TESSEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$TESSEL_ROOT/scripts/setup.sh"

build_dir="$TESSEL_ROOT/build"
cmake_args=()
ctest_args=()
for arg in "$@"; do
  case "$arg" in
    --sanitize)
      build_dir="$TESSEL_ROOT/build-sanitize"
      cmake_args+=(-DTESSEL_SANITIZE=ON -DTESSEL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
      export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_string_checks=1"
      export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
      export TESSEL_SANITIZE=1
      ;;
    *) ctest_args+=("$arg") ;;
  esac
done

tessel_install_missing
tessel_build "$build_dir" "${cmake_args[@]}"
export QT_QPA_PLATFORM=offscreen
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)" "${ctest_args[@]}"
