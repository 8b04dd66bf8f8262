#!/usr/bin/env bash
# Coverage-guided fuzzing of every reader (the targets of fuzz/), built with clang and
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]   SECONDS per target (default 60); default all targets
# Each corpus (build-fuzz/corpus/<target>/, kept between runs) is seeded by the target itself
# from generated samples. Every input runs under a time limit and a memory limit: an input that
# takes longer than FUZZ_TIMEOUT seconds (default 2) or makes the process pass FUZZ_RSS_MB MB
# resident (default 512, sanitizers included) is a finding, as a crash is. A finding is
# minimised and kept in tests/fuzz-regressions/<target>/, which the normal build's ctest replays
# (fuzz_regressions_*).
# Environment: FUZZ_JOBS targets at once (default: the number of cores), FUZZ_NICE niceness of
# the fuzzers (default 10), FUZZ_TIMEOUT, FUZZ_RSS_MB.
set -euo pipefail
TESSEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$TESSEL_ROOT/scripts/setup.sh"

seconds="${1:-60}"
[ $# -gt 0 ] && shift
[[ "$seconds" =~ ^[0-9]+$ ]] || tessel_fail "usage: scripts/fuzz.sh [SECONDS] [TARGET...]"
jobs="${FUZZ_JOBS:-$(nproc)}"
niceness="${FUZZ_NICE:-10}"
timeout="${FUZZ_TIMEOUT:-2}"
rss_mb="${FUZZ_RSS_MB:-512}"
[[ "$timeout" =~ ^[0-9]+$ && "$rss_mb" =~ ^[0-9]+$ ]] || tessel_fail "FUZZ_TIMEOUT and FUZZ_RSS_MB are whole numbers"
limits=(-timeout="$timeout" -rss_limit_mb="$rss_mb")
out="$TESSEL_ROOT/build-fuzz"
kept="$TESSEL_ROOT/tests/fuzz-regressions"

tessel_install_missing
CC=clang CXX=clang++ TESSEL_BUILD_TARGET=fuzz_all tessel_build "$out" \
  -DTESSEL_FUZZ=ON -DTESSEL_BUILD_TESTS=OFF -DTESSEL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$out"/bin/fuzz_*; do
    targets+=("$(basename "$bin" | sed 's/^fuzz_//')")
  done
fi
[ ${#targets[@]} -gt 0 ] || tessel_fail "no fuzz targets in $out/bin"

# Leaks are not findings here: Qt keeps caches for the life of the process. A smaller
# quarantine of freed memory (64 MB, not 256) keeps the resident size close to what the input
# costs, so that the memory limit means something.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:quarantine_size_mb=64:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

# run_target NAME: seeds, fuzzes for $seconds, minimises what crashed. Output in logs/NAME.log.
run_target() {
  local t="$1" bin="$out/bin/fuzz_$1"
  local corpus="$out/corpus/$t" seeds="$out/seeds/$t" artifacts="$out/artifacts/$t"
  local log="$out/logs/$t.log"
  rm -rf "$seeds" "$artifacts"
  mkdir -p "$corpus" "$seeds" "$artifacts" "$out/logs"
  if [ ! -x "$bin" ]; then
    echo "no program $bin" >"$log"
    return
  fi
  TESSEL_FUZZ_SEEDS="$seeds" "$bin" >"$log" 2>&1 || echo "seeding failed" >>"$log"
  local dict=()
  [ -f "$TESSEL_ROOT/fuzz/$t.dict" ] && dict=(-dict="$TESSEL_ROOT/fuzz/$t.dict")
  # -close_fd_mask=1: the patch generators report on standard output.
  nice -n "$niceness" "$bin" "$corpus" "$seeds" "${dict[@]}" -max_total_time="$seconds" \
    -print_final_stats=1 "${limits[@]}" -close_fd_mask=1 \
    -artifact_prefix="$artifacts/" >>"$log" 2>&1 || true
  local found
  for found in "$artifacts"/crash-* "$artifacts"/oom-* "$artifacts"/timeout-* "$artifacts"/leak-*; do
    [ -f "$found" ] || continue
    mkdir -p "$kept/$t"
    local keep="$kept/$t/$(basename "$found")"
    nice -n "$niceness" "$bin" -minimize_crash=1 -max_total_time=60 "${limits[@]}" \
      -close_fd_mask=1 -exact_artifact_path="$keep" "$found" \
      >>"$out/logs/$t.minimize.log" 2>&1 || true
    [ -s "$keep" ] || cp "$found" "$keep"
  done
}

echo "fuzzing ${#targets[@]} targets for ${seconds} s each, $jobs at a time," \
  "at most ${timeout} s and ${rss_mb} MB per input"
running=0
for t in "${targets[@]}"; do
  run_target "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=()
printf '\n%-16s %14s %10s %8s\n' target executions coverage findings
for t in "${targets[@]}"; do
  log="$out/logs/$t.log"
  execs="$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | awk '{print $2}')"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}')"
  crashes="$(find "$out/artifacts/$t" -maxdepth 1 -type f \
    \( -name 'crash-*' -o -name 'oom-*' -o -name 'timeout-*' -o -name 'leak-*' \) | wc -l)"
  [ -n "$execs" ] || crashes=$((crashes > 0 ? crashes : 1)) # the fuzzer did not finish
  printf '%-16s %14s %10s %8s\n' "$t" "${execs:--}" "${cov:--}" "$crashes"
  [ "$crashes" -eq 0 ] || failed+=("$t")
done
echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "Findings are kept in tests/fuzz-regressions/<target>/; logs in build-fuzz/logs/."
fi
total=${#targets[@]}
passed=$((total - ${#failed[@]}))
# The summary in ctest's words, which the CI reads.
echo "$((passed * 100 / total))% tests passed, ${#failed[@]} tests failed out of $total"
if [ ${#failed[@]} -gt 0 ]; then
  echo
  echo "The following tests FAILED:"
  for t in "${failed[@]}"; do echo "	fuzz_$t (Failed)"; done
  exit 1
fi
