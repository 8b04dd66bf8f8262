#!/usr/bin/env bash
# Builds the Debian package tessel_<version>_<arch>.deb from a release build.
#   scripts/make-deb.sh [--build-dir DIR] [--output DIR] [--no-build] [--no-lintian]
# By default it installs what is missing, builds build/ (as ./run.sh does) and writes the
# package into the checkout's top folder. --no-build packages an existing build as it stands.
# Run-time dependencies come from dpkg-shlibdeps; lintian must report no errors.
set -euo pipefail
TESSEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$TESSEL_ROOT/scripts/setup.sh"

build_dir="$TESSEL_ROOT/build"
out_dir="$TESSEL_ROOT"
do_build=1
do_lintian=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir="$(realpath -m -- "${2:?--build-dir needs a folder}")"; shift 2 ;;
    --output) out_dir="$(realpath -m -- "${2:?--output needs a folder}")"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --no-lintian) do_lintian=0; shift ;;
    -h|--help) sed -n '2,6s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) tessel_fail "unknown argument $1 (see --help)" ;;
  esac
done

if [ "$do_build" = 1 ]; then
  tessel_install_missing
  tessel_build "$build_dir"
fi
cache="$build_dir/CMakeCache.txt"
[ -f "$cache" ] || tessel_fail "no build in $build_dir"
grep -q '^TESSEL_SANITIZE:BOOL=ON$' "$cache" \
  && tessel_fail "$build_dir is a sanitizer build; package a release build"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache")"
[ -n "$version" ] || tessel_fail "no project version in $cache"
arch="$(dpkg --print-architecture)"
for tool in dpkg-shlibdeps dpkg-gencontrol dpkg-parsechangelog; do
  command -v "$tool" >/dev/null 2>&1 || tessel_fail "$tool is missing: install dpkg-dev"
done

stage="$(mktemp -d)"
trap 'rm -rf -- "$stage"' EXIT
# The layout the Debian tools expect: debian/control, debian/changelog, debian/<package>/.
mkdir -p "$stage/debian"
pkg_root="$stage/debian/tessel"
umask 022

# The changelog: the project's own, opened by a generated entry when the version is newer.
changelog="$stage/debian/changelog"
logged="$(dpkg-parsechangelog -l "$TESSEL_ROOT/packaging/changelog" -SVersion)"
if [ "$logged" != "$version" ]; then
  maintainer_line="$(sed -n 's/^ -- \(.*>\)  .*/\1/p' "$TESSEL_ROOT/packaging/changelog" | head -n 1)"
  when="$(git -C "$TESSEL_ROOT" log -1 --format=%cD 2>/dev/null || date -R)"
  {
    printf 'tessel (%s) unstable; urgency=medium\n\n' "$version"
    printf '  * Release %s; see the project history for the changes.\n\n' "$version"
    printf ' -- %s  %s\n\n' "$maintainer_line" "$when"
    cat "$TESSEL_ROOT/packaging/changelog"
  } > "$changelog"
else
  cp "$TESSEL_ROOT/packaging/changelog" "$changelog"
fi
SOURCE_DATE_EPOCH="$(dpkg-parsechangelog -l "$changelog" -STimestamp)"
export SOURCE_DATE_EPOCH

maintainer="$(sed -n 's/^ -- \(.*>\)  .*/\1/p' "$changelog" | head -n 1)"
if [ -n "${DEBEMAIL:-}" ]; then
  maintainer="${DEBFULLNAME:-Tessel developers} <$DEBEMAIL>"
fi
cat > "$stage/debian/control" <<CONTROL
Source: tessel
Section: electronics
Priority: optional
Maintainer: $maintainer
Standards-Version: 4.6.2

Package: tessel
Architecture: any
Depends: \${shlibs:Depends}, fonts-wqy-microhei
Recommends: xdg-utils
Description: engineering tool workbench with a firmware upgrade package builder
 Tessel is a desktop workbench for engineering tools that come as plug-ins.
 It lists the tools, manages their settings, language files and update
 history, and installs new plug-ins from plug-in packages.
 .
 Its first plug-in, Deltamaker, builds firmware over-the-air upgrade packages
 (FotaPKG) for the KLM4410 and ZN3150 boards: block patches, in-place
 patches, whole-image and A/B packages, compressed with LZMA and checked
 against the partition sizes. Every package is read back and verified before
 the build reports success. The same builder is available on the command
 line as deltamaker.
CONTROL

DESTDIR="$pkg_root" cmake --install "$build_dir" --prefix /usr --strip >/dev/null \
  || tessel_fail "cmake --install failed"
doc="$pkg_root/usr/share/doc/tessel"
mkdir -p "$doc"
gzip -9n < "$changelog" > "$doc/changelog.gz"
mkdir -p "$pkg_root/usr/share/lintian/overrides"
cp "$TESSEL_ROOT/packaging/lintian-overrides" "$pkg_root/usr/share/lintian/overrides/tessel"

# Plain modes: folders and programs 755, everything else (shared objects too) 644.
find "$pkg_root" -type d -exec chmod 755 {} +
find "$pkg_root" -type f -exec chmod 644 {} +
for program in "$pkg_root"/usr/bin/* "$pkg_root/usr/lib/tessel/Tessel"; do
  chmod 755 "$program"
done

elves=()
while IFS= read -r -d '' f; do
  if [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ]; then elves+=("$f"); fi
done < <(find "$pkg_root" -type f -print0)
[ ${#elves[@]} -gt 0 ] || tessel_fail "no binaries were installed"
# As Debian's own packages are stripped: no compiler comments either.
strip --remove-section=.comment --remove-section=.note "${elves[@]}" \
  || tessel_fail "strip failed"
mkdir -p "$pkg_root/DEBIAN"   # dpkg-shlibdeps finds the package's root by it
(cd "$stage" && dpkg-shlibdeps -Tdebian/tessel.substvars "${elves[@]/#$stage\//-e}") \
  || tessel_fail "dpkg-shlibdeps failed"

(cd "$pkg_root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z \
   | xargs -0 md5sum) > "$pkg_root/DEBIAN/md5sums"
(cd "$stage" && dpkg-gencontrol -ptessel -Pdebian/tessel -Tdebian/tessel.substvars \
   -fdebian/files) || tessel_fail "dpkg-gencontrol failed"

mkdir -p "$out_dir"
deb="$out_dir/tessel_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$pkg_root" "$deb" >/dev/null \
  || tessel_fail "dpkg-deb failed"
echo "Built $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb -f "$deb" Depends

if [ "$do_lintian" = 1 ]; then
  command -v lintian >/dev/null 2>&1 || tessel_fail "lintian is missing: install lintian"
  echo "lintian:"
  lintian --fail-on error "$deb" || tessel_fail "lintian reports errors"
fi
