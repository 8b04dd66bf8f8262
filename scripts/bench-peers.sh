#!/usr/bin/env bash
# Measures `deltamaker build` (methods 1 and 3, default and optimised encoder) against bsdiff,
# xdelta3 and zstd --patch-from on the same pairs: wall time, peak memory and output size, with
# ratios to bsdiff and of each optimised build to its default build.
#
#   scripts/bench-peers.sh [--build DIR] [--threads N] [--generated] [OLD NEW]...
#
# Without pairs it measures the generated firmware-like pairs of 128 KiB, 1, 2 and 4 MiB;
# with pairs it measures those (any two files, e.g. two versions of a shared library from
# scripts/fetch-real-pairs.sh), and the generated ones too when --generated is given. Each
# pair is copied and given a KLM4410 header (board word, version, method byte) so the builder
# accepts it; every tool diffs the same copies. --threads is passed to deltamaker when it takes
# it (default: all cores). Installs bsdiff, xdelta3, zstd and time when missing. Not part of
# ./test.sh. The last lines check the size, time and memory goals for this run.
# Each pair's method 3 package is also built with --power-safe (tool m3-safe) and both are run
# on the flash model (deltamaker simulate --power-cuts, default profile): the "device" lines
# give the default package's unsafe steps and what power safety costs in size, device time,
# erase units erased and the most erases of one unit.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
THREADS=""
GENERATED=0
PAIRS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD="$2"; shift 2 ;;
    --threads) THREADS="$2"; shift 2 ;;
    --generated) GENERATED=1; shift ;;
    -h|--help) sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "error: unknown option $1" >&2; exit 2 ;;
    *) [ $# -ge 2 ] || { echo "error: $1 has no partner: give pairs as OLD NEW" >&2; exit 2; }
       for f in "$1" "$2"; do [ -f "$f" ] || { echo "error: $f is not a file" >&2; exit 2; }; done
       PAIRS+=("$1" "$2"); shift 2 ;;
  esac
done
[ ${#PAIRS[@]} -eq 0 ] && GENERATED=1

DM="$BUILD/bin/deltamaker"
MAKEPAIR="$BUILD/bin/make-firmware-pair"
[ -x "$DM" ] && [ -x "$MAKEPAIR" ] || { echo "error: build first (./test.sh or cmake --build $BUILD)" >&2; exit 1; }

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

threadArgs=()
if "$DM" build --help 2>&1 | grep -q -- '--threads'; then
  [ -n "$THREADS" ] && threadArgs=(--threads "$THREADS")
elif [ -n "$THREADS" ]; then
  echo "note: this deltamaker has no --threads; building single-threaded" >&2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A partition table with room for large pairs: uboot 256 KiB, cpu 32 MiB.
"$DM" partitions --create "$work/part.bin" uboot:0x0:0x40000 cpu:0x40000:0x2000000 >/dev/null

# stamp IN OUT VERSION: a copy of IN with a KLM4410 header (at least 128 bytes).
stamp() {
  cp "$1" "$2"
  [ "$(stat -c %s "$2")" -ge 128 ] || truncate -s 128 "$2"
  printf '\x18\x20\x26\x02' | dd of="$2" bs=1 seek=0 conv=notrunc status=none
  head -c 16 /dev/zero | dd of="$2" bs=1 seek=96 conv=notrunc status=none
  printf '%s' "$3" | dd of="$2" bs=1 seek=96 conv=notrunc status=none
  printf '\x42' | dd of="$2" bs=1 seek=112 conv=notrunc status=none
}

# measure OUTPUT COMMAND...: prints "seconds kbytes size", or "fail fail fail"
measure() {
  local out="$1"; shift
  rm -f "$out"
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" ||
    { echo "fail fail fail"; return; }
  read -r secs kb <"$work/time.txt"
  echo "$secs $kb $(stat -c %s "$out")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else printf "-" }'; }

goals=()
TOOLS=(bsdiff xdelta3 zstd m1 m1-opt m3 m3-opt m3-safe)
devices=()

# device LABEL OLD NEW: the dry runs of the default and the power-safe method 3 packages.
device() {
  local label="$1" old="$2" new="$3" f
  for f in p3 p3.safe; do
    [ -s "$work/$f.pkg" ] || { devices+=("$label: no $f package"); return; }
    "$DM" simulate "$work/$f.pkg" --json --power-cuts --partition "$work/part.bin" --old "$old" \
      --new "$new" >"$work/$f.json" 2>/dev/null || true
  done
  devices+=("$(python3 - "$label" "$work/p3.json" "$work/p3.safe.json" "$work/p3.pkg" "$work/p3.safe.pkg" <<'PY'
import json, os, sys
label, a, b, pa, pb = sys.argv[1:]
try:
    d, s = json.load(open(a)), json.load(open(b))
except ValueError:
    print(f"{label:<14} device: a dry run failed"); sys.exit()
td, ts = d["total"], s["total"]
r = lambda x, y: x / y if y else float("nan")
print(f"{label:<14} device: m3 {d['power_cuts']['unsafe_steps']}/{d['power_cuts']['steps']} steps unsafe, "
      f"{td['bytes_at_risk']} bytes at risk, {td['time_ms']/1000:.1f} s, {td['sectors_erased']} units erased, "
      f"wear {td['max_erase_count']} | m3-safe {s['power_cuts']['unsafe_steps']} unsafe, "
      f"size x{r(os.path.getsize(pb), os.path.getsize(pa)):.2f}, time x{r(ts['time_ms'], td['time_ms']):.2f}, "
      f"erased x{r(ts['sectors_erased'], td['sectors_erased']):.2f}, wear {ts['max_erase_count']}, "
      f"moved {td['bytes_moved']} -> {ts['bytes_moved']} bytes")
PY
)")
}
printf '%-14s %-7s %8s %9s %9s %6s %6s %6s %6s %6s\n' pair tool seconds peakKiB bytes \
  t/bsd m/bsd s/bsd t/def s/def

# bench LABEL KIND OLD NEW  (KIND: generated or real)
bench() {
  local label="$1" kind="$2" old="$3" new="$4"
  declare -A R=()
  R[bsdiff]=$(measure "$work/p.bsdiff" bsdiff "$old" "$new" "$work/p.bsdiff")
  R[xdelta3]=$(measure "$work/p.xd3" xdelta3 -9 -e -f -s "$old" "$new" "$work/p.xd3")
  R[zstd]=$(measure "$work/p.zst" zstd -19 -f -q --long=27 --patch-from="$old" "$new" -o "$work/p.zst")
  local m
  for m in 1 3; do
    local common=(build --quiet --method "$m" --partition "$work/part.bin" --old "$old" --new "$new")
    R[m$m]=$(measure "$work/p$m.pkg" "$DM" "${common[@]}" "${threadArgs[@]}" --output "$work/p$m.pkg")
    R[m$m-opt]=$(measure "$work/p$m.opt.pkg" "$DM" "${common[@]}" "${threadArgs[@]}" --optimize \
      --output "$work/p$m.opt.pkg")
  done
  R[m3-safe]=$(measure "$work/p3.safe.pkg" "$DM" build --quiet --method 3 --partition "$work/part.bin" \
    --old "$old" --new "$new" "${threadArgs[@]}" --power-safe --output "$work/p3.safe.pkg")
  device "$label" "$old" "$new"
  local bt bm bs t s mm tool
  read -r bt bm bs <<<"${R[bsdiff]}"
  for tool in "${TOOLS[@]}"; do
    read -r t mm s <<<"${R[$tool]}"
    if [ "$t" = fail ]; then
      printf '%-14s %-7s %8s\n' "$label" "$tool" failed
      continue
    fi
    local tdef="" sdef=""
    if [[ "$tool" == *-opt || "$tool" == *-safe ]]; then
      local dt dm ds; read -r dt dm ds <<<"${R[${tool%-*}]}"
      if [ "$dt" != fail ]; then tdef=$(ratio "$t" "$dt"); sdef=$(ratio "$s" "$ds"); fi
    fi
    printf '%-14s %-7s %8s %9s %9s %6s %6s %6s %6s %6s\n' "$label" "$tool" "$t" "$mm" "$s" \
      "$(ratio "$t" "$bt")" "$(ratio "$mm" "$bm")" "$(ratio "$s" "$bs")" "${tdef:--}" "${sdef:--}"
  done
  # Goals of the optimising encoder and the threaded builds, checked for this pair.
  local t3 m3 s3 to3 mo3 so3 t1 m1 s1 to1 mo1 so1
  read -r t3 m3 s3 <<<"${R[m3]}"; read -r to3 mo3 so3 <<<"${R[m3-opt]}"
  read -r t1 m1 s1 <<<"${R[m1]}"; read -r to1 mo1 so1 <<<"${R[m1-opt]}"
  [ "$t3" = fail ] || [ "$to3" = fail ] || [ "$t1" = fail ] || [ "$to1" = fail ] || [ "$bt" = fail ] &&
    { goals+=("$label: a build failed, goals not checked"); return; }
  local limit=1.00; [ "$kind" = generated ] && limit=1.20
  goals+=("$(awk -v l="$label" -v a="$so3" -v b="$bs" -v lim="$limit" 'BEGIN{r=a/b; printf "%-14s m3-opt size %.2f x bsdiff (goal <= %.2f): %s", l, r, lim, (r <= lim) ? "met" : "missed"}')")
  goals+=("$(awk -v l="$label" -v a="$so1" -v b="$s1" 'BEGIN{r=1-a/b; printf "%-14s m1-opt %.1f%% smaller than m1 (goal >= 15%%): %s", l, 100*r, (r >= 0.15) ? "met" : "missed"}')")
  goals+=("$(awk -v l="$label" -v a="$to3" -v b="$t3" -v c="$to1" -v d="$t1" 'BEGIN{r=(b>0)?a/b:0; q=(d>0)?c/d:0; printf "%-14s opt time m3 %.2f, m1 %.2f x default (goal <= 2): %s", l, r, q, (r <= 2 && q <= 2) ? "met" : "missed"}')")
  goals+=("$(awk -v l="$label" -v a="$m3" -v b="$mo3" -v c="$m1" -v d="$mo1" -v e="$bm" 'BEGIN{m=a; if(b>m)m=b; if(c>m)m=c; if(d>m)m=d; printf "%-14s peak memory %.2f x bsdiff at most (goal <= 1): %s", l, m/e, (m <= e) ? "met" : "missed"}')")
  if [ "$label" = gen-4M ]; then
    goals+=("$(awk -v l="$label" -v a="$t3" -v b="$bt" 'BEGIN{r=(b>0)?a/b:0; printf "%-14s m3 default time %.2f x bsdiff (goal <= 0.35): %s", l, r, (r <= 0.35) ? "met" : "missed"}')")
  fi
}

if [ "$GENERATED" = 1 ]; then
  for size in 131072 1048576 2097152 4194304; do
    "$MAKEPAIR" "$size" 7 "$work/old.bin" "$work/new.bin"
    if [ "$size" -ge 1048576 ]; then label="gen-$((size / 1048576))M"; else label="gen-$((size / 1024))K"; fi
    bench "$label" generated "$work/old.bin" "$work/new.bin"
  done
fi
set -- "${PAIRS[@]+"${PAIRS[@]}"}"
while [ $# -ge 2 ]; do
  stamp "$1" "$work/old.bin" V2.3.0
  stamp "$2" "$work/new.bin" V2.4.0
  label="$(basename "$2")"; label="${label%.*}"; label="${label:0:14}"
  bench "$label" real "$work/old.bin" "$work/new.bin"
  shift 2
done

echo
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); deltamaker ${threadArgs[*]:-(default threads)}"
printf '%s\n' "${goals[@]}"
echo
printf '%s\n' "${devices[@]+"${devices[@]}"}"
