#!/usr/bin/env bash
# Fetches pairs of real binaries for scripts/bench-peers.sh: for each library below, the two
# newest versions Debian's archive offers, unpacked with dpkg-deb, written as
#   DIR/<package>.old  DIR/<package>.new
# and listed on stdout as "OLD NEW" lines. The files stay outside the repository.
#   scripts/fetch-real-pairs.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: scripts/fetch-real-pairs.sh DIR" >&2; exit 2; }
out="$(mkdir -p "$1" && cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# package  file inside the package (a glob below usr/lib)
libraries=(
  "libtiff6 libtiff.so.6.*"
  "libcurl4 libcurl.so.4.*"
  "libssl3 libssl.so.3"
  "libglib2.0-0 libglib-2.0.so.0.*"
  "libxml2 libxml2.so.2.*"
)

for entry in "${libraries[@]}"; do
  read -r pkg pattern <<<"$entry"
  mapfile -t versions < <(apt-cache madison "$pkg" 2>/dev/null | awk '{print $3}' | sort -u -V | tail -2)
  if [ ${#versions[@]} -lt 2 ]; then
    echo "skipped $pkg: the archive offers fewer than two versions" >&2
    continue
  fi
  name="$pkg"
  for side in 0 1; do
    dir="$work/$pkg-$side"
    mkdir -p "$dir"
    (cd "$dir" && apt-get download -q "$pkg=${versions[$side]}" >/dev/null 2>&1) || {
      echo "skipped $pkg: cannot download ${versions[$side]}" >&2; continue 2; }
    dpkg-deb -x "$dir"/*.deb "$dir/root"
    file="$(find "$dir/root/usr/lib" -name "$pattern" -type f | head -1)"
    [ -n "$file" ] || { echo "skipped $pkg: no $pattern in ${versions[$side]}" >&2; continue 2; }
    if [ "$side" = 0 ]; then cp "$file" "$out/$name.old"; else cp "$file" "$out/$name.new"; fi
  done
  echo "$pkg: ${versions[0]} -> ${versions[1]}" >&2
  echo "$out/$name.old $out/$name.new"
done
