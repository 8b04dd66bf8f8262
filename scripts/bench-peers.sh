#!/usr/bin/env bash
# Measures `deltamaker build` (methods 1 and 3) against bsdiff, xdelta3 and zstd --patch-from on
# the same generated firmware-like pairs: wall time, peak memory and output size.
#   scripts/bench-peers.sh [BUILD_DIR]   (default: build)
# Installs bsdiff, xdelta3, zstd and time when they are missing. Not part of ./test.sh.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
DM="$BUILD/bin/deltamaker"
PAIR="$BUILD/bin/make-firmware-pair"
[ -x "$DM" ] && [ -x "$PAIR" ] || { echo "error: build first (./test.sh or cmake --build $BUILD)" >&2; exit 1; }

need=()
command -v bsdiff >/dev/null || need+=(bsdiff)
command -v xdelta3 >/dev/null || need+=(xdelta3)
command -v zstd >/dev/null || need+=(zstd)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  sudo=(); [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get update -q </dev/null
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${need[@]}" </dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A partition table with room for the largest pair: uboot 256 KiB, cpu 32 MiB.
"$DM" partitions --create "$work/part.bin" uboot:0x0:0x40000 cpu:0x40000:0x2000000 >/dev/null

# measure NAME OUTPUT -- COMMAND...: prints "seconds kbytes size"
measure() {
  local out="$1"; shift; shift
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>&1 || { echo "fail fail fail"; return; }
  read -r secs kb <"$work/time.txt"
  echo "$secs $kb $(stat -c %s "$out")"
}

printf '%-6s %-18s %9s %10s %10s %8s %8s %8s\n' size tool seconds peakKiB bytes t/bsd m/bsd s/bsd
for size in 131072 1048576 2097152 4194304; do
  old="$work/old_$size.bin"; new="$work/new_$size.bin"
  "$PAIR" "$size" 7 "$old" "$new"
  declare -A R=()
  R[bsdiff]=$(measure "$work/p.bsdiff" -- bsdiff "$old" "$new" "$work/p.bsdiff")
  R[xdelta3]=$(measure "$work/p.xd3" -- xdelta3 -9 -e -f -s "$old" "$new" "$work/p.xd3")
  R[zstd]=$(measure "$work/p.zst" -- zstd -19 -f -q --patch-from="$old" "$new" -o "$work/p.zst")
  R[deltamaker-m1]=$(measure "$work/p1.pkg" -- "$DM" build --method 1 --partition "$work/part.bin" --old "$old" --new "$new" --output "$work/p1.pkg")
  R[deltamaker-m3]=$(measure "$work/p3.pkg" -- "$DM" build --method 3 --partition "$work/part.bin" --old "$old" --new "$new" --output "$work/p3.pkg")
  read -r bt bm bs <<<"${R[bsdiff]}"
  for tool in deltamaker-m1 deltamaker-m3 bsdiff xdelta3 zstd; do
    read -r t m s <<<"${R[$tool]}"
    if [ "$t" = fail ]; then
      printf '%-6s %-18s %9s\n' "$((size / 1024))K" "$tool" failed
      continue
    fi
    printf '%-6s %-18s %9s %10s %10s %8s %8s %8s\n' "$((size / 1024))K" "$tool" "$t" "$m" "$s" \
      "$(awk -v a="$t" -v b="$bt" 'BEGIN{printf "%.2f", (b > 0) ? a / b : 0}')" \
      "$(awk -v a="$m" -v b="$bm" 'BEGIN{printf "%.2f", a/b}')" \
      "$(awk -v a="$s" -v b="$bs" 'BEGIN{printf "%.2f", a/b}')"
  done
done
