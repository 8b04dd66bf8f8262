#!/usr/bin/env bash
# The Debian package end to end: built from the existing build (no rebuild), unpacked into a
# temporary root, its files listed and checked, its programs run from there, and the launcher
# run twice with a temporary HOME: the working folder is created and filled, the workbench loads
# Deltamaker from it, and an upgrade keeps what the user changed.
#   test_deb.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf -- "$tmp"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  "$@" || fail "$what"
}

# --- Build and unpack -------------------------------------------------------------------------
"$src/scripts/make-deb.sh" --no-build --build-dir "$build" --output "$tmp/out" | tee "$tmp/make-deb.log"
debs=("$tmp"/out/tessel_*_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no package built" >&2; exit 1; }
deb=${debs[0]}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
check "package file name" [ "$(basename "$deb")" = "tessel_${version}_$(dpkg --print-architecture).deb" ]
depends=$(dpkg-deb -f "$deb" Depends)
for dep in fonts-wqy-microhei libqt5widgets5 libqt5xml5 libc6 libstdc++6; do
  [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done
# Opening manuals and language files needs xdg-open.
check "recommends xdg-utils" [ "$(dpkg-deb -f "$deb" Recommends)" = "xdg-utils" ]
check "control fields" [ "$(dpkg-deb -f "$deb" Package Version | tr '\n' ' ')" = "Package: tessel Version: $version " ]

root=$tmp/root
dpkg-deb -x "$deb" "$root"
(cd "$root" && find . -mindepth 1 \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort) > "$tmp/files"

# --- File list --------------------------------------------------------------------------------
share=usr/share/tessel
required=(
  usr/bin/tessel usr/bin/deltamaker usr/bin/tessel-pkg
  usr/lib/tessel/Tessel usr/lib/tessel/plugins/Deltamaker/Deltamaker.so
  usr/share/applications/tessel.desktop
  usr/share/man/man1/tessel.1.gz usr/share/man/man1/deltamaker.1.gz
  usr/share/man/man1/tessel-pkg.1.gz
  usr/share/bash-completion/completions/deltamaker
  usr/share/doc/tessel/copyright usr/share/doc/tessel/changelog.gz
  "$share/samples/README.txt" "$share/samples/klm4410/partition.bin"
  "$share/samples/zn3150/partition.bin"
)
for size in 16 22 24 32 48 64 128 256; do
  required+=("usr/share/icons/hicolor/${size}x$size/apps/tessel.png")
done
# Every working-folder file of the source tree is shipped, at its place below usr/share/tessel.
while IFS= read -r f; do
  required+=("$share/$f")
done < <(cd "$src/runtime" && find . -type f ! -name CMakeLists.txt ! -name .keep ! -path './logs/*' -printf '%P\n')
for f in "${required[@]}"; do
  grep -qxF -- "$f" "$tmp/files" || fail "missing from the package: $f"
done
while IFS= read -r f; do
  case "$f" in
    usr/bin/tessel | usr/bin/deltamaker | usr/bin/tessel-pkg) ;;
    usr/lib/tessel/Tessel | usr/lib/tessel/plugins/*/*.so) ;;
    usr/share/tessel/logs/*) fail "shipped log: $f" ;;
    */.keep | */CMakeLists.txt) fail "build file shipped: $f" ;;
    usr/share/tessel/* | usr/share/applications/tessel.desktop) ;;
    usr/share/icons/hicolor/*/apps/tessel.png | usr/share/man/man1/*.1.gz) ;;
    usr/share/bash-completion/completions/deltamaker | usr/share/doc/tessel/*) ;;
    usr/share/lintian/overrides/tessel) ;;
    *) fail "unexpected file in the package: $f" ;;
  esac
done < "$tmp/files"
for program in usr/bin/tessel usr/bin/deltamaker usr/lib/tessel/Tessel; do
  check "$program is executable" [ -x "$root/$program" ]
done
for binary in usr/lib/tessel/Tessel usr/lib/tessel/plugins/Deltamaker/Deltamaker.so usr/bin/deltamaker; do
  readelf -S "$root/$binary" | grep -qE '\.(symtab|debug_info) ' && fail "$binary is not stripped"
done
# PNG signature, then the IHDR width and height: 48 x 48.
check "png icon" [ "$(od -An -tx1 -N24 "$root/usr/share/icons/hicolor/48x48/apps/tessel.png" | tr -d ' \n')" \
  = 89504e470d0a1a0a0000000d494844520000003000000030 ]
check "deltamaker manual lists the commands" sh -c \
  "zcat '$root/usr/share/man/man1/deltamaker.1.gz' | grep -q '^\.SS build'"
check "desktop entry" desktop-file-validate "$root/usr/share/applications/tessel.desktop"

# --- deltamaker from the unpacked root --------------------------------------------------------
dm=$root/usr/bin/deltamaker
"$dm" --help > "$tmp/help" || fail "deltamaker --help"
check "deltamaker --help text" grep -q '^usage: deltamaker' "$tmp/help"
"$dm" samples "$tmp/samples" > /dev/null || fail "deltamaker samples"
check "shipped samples are the program's own" diff -r "$tmp/samples" "$root/$share/samples"
build_line=$(grep -m1 -- '--method 0 ' "$tmp/samples/README.txt" | sed 's/^ *deltamaker //')
read -r -a build_args <<< "$build_line"
(cd "$tmp/samples" && "$dm" "${build_args[@]}" > "$tmp/build.log") || fail "sample build: $build_line"

# --- bash completion --------------------------------------------------------------------------
completions=$(PATH="$root/usr/bin:$PATH" bash -c '
  source "$1"
  COMP_WORDS=(deltamaker b); COMP_CWORD=1; _deltamaker; printf "%s " "${COMPREPLY[@]}"
  COMP_WORDS=(deltamaker build --me); COMP_CWORD=2; _deltamaker; printf "%s " "${COMPREPLY[@]}"
  COMP_WORDS=(deltamaker partitions x --board z); COMP_CWORD=4; _deltamaker; printf "%s" "${COMPREPLY[@]}"
' _ "$root/usr/share/bash-completion/completions/deltamaker")
check "bash completion ($completions)" [ "$completions" = "build --method zn3150" ]

# --- Launcher: first start --------------------------------------------------------------------
export HOME=$tmp/home
unset XDG_DATA_HOME
mkdir -p "$HOME"
work=$HOME/.local/share/tessel
launch() { # launch LOG: starts the workbench once through the launcher, unattended
  QT_QPA_PLATFORM=offscreen TESSEL_QUIT_AFTER_LOAD=1 timeout 120 \
    "$root/usr/bin/tessel" -mutex 0 > "$1.out" 2> "$1.err" \
    || { fail "launcher exited with $? ($(cat "$1.err"))"; return 0; }
  grep -qxF "loaded Deltamaker $work/plugins/Deltamaker/Deltamaker.so" "$1.out" \
    || fail "Deltamaker not loaded from the working folder: $(cat "$1.out" "$1.err")"
}
check "launcher --folder" [ "$("$root/usr/bin/tessel" --folder)" = "$work" ]
check "XDG_DATA_HOME" [ "$(XDG_DATA_HOME=/x/y "$root/usr/bin/tessel" --folder)" = /x/y/tessel ]
check "relative XDG_DATA_HOME ignored" [ "$(XDG_DATA_HOME=x "$root/usr/bin/tessel" --folder)" = "$work" ]
launch "$tmp/first"
for d in plugins config logs docs lang images; do
  check "working folder has $d/" [ -d "$work/$d" ]
done
same_as_shipped() { # same_as_shipped REL
  local from=$root/$share/$1
  [[ $1 == plugins/* ]] && from=$root/usr/lib/tessel/$1
  cmp -s "$from" "$work/$1"
}
while IFS= read -r f; do
  case "$f" in
    "$share"/*) same_as_shipped "${f#"$share"/}" || fail "not filled: ${f#"$share"/}" ;;
    usr/lib/tessel/plugins/*) same_as_shipped "${f#usr/lib/tessel/}" || fail "not filled: ${f#usr/lib/tessel/}" ;;
  esac
done < "$tmp/files"
check "manifest written" [ -s "$work/.tessel-shipped" ]

# --- Second start: the user's changes stay ------------------------------------------------------
setting=config/Deltamaker/index.config
printf '<!-- changed by the user -->\n' >> "$work/$setting"
cp "$work/$setting" "$tmp/user-setting"
printf 'user log\n' > "$work/logs/mine.log"
mkdir -p "$work/plugins/Mine"
printf 'installed by the user\n' > "$work/plugins/Mine/readme.txt"
rm "$work/samples/README.txt"
launch "$tmp/second"
check "user's setting kept" cmp -s "$tmp/user-setting" "$work/$setting"
check "removed file stays removed" [ ! -e "$work/samples/README.txt" ]

# --- An upgrade: new and changed files come in, the user's changes stay -------------------------
printf '<!-- a newer shipped setting -->\n' >> "$root/$share/$setting"
printf 'newer\n' >> "$root/$share/images/README"
mkdir -p "$root/$share/docs/Deltamaker"
printf 'new manual\n' > "$root/$share/docs/Deltamaker/new.txt"
gone=samples/zn3150/old.bin
rm "$root/$share/$gone"
launch "$tmp/third"
check "user's setting kept over an upgrade" cmp -s "$tmp/user-setting" "$work/$setting"
check "note on the kept setting" grep -qF "kept your $setting" "$tmp/third.err"
check "unchanged file upgraded" same_as_shipped images/README
check "new file brought in" same_as_shipped docs/Deltamaker/new.txt
check "file no longer shipped removed" [ ! -e "$work/$gone" ]
check "removed file stays removed over an upgrade" [ ! -e "$work/samples/README.txt" ]
check "log kept" grep -qx 'user log' "$work/logs/mine.log"
check "user's plug-in files kept" grep -qx 'installed by the user' "$work/plugins/Mine/readme.txt"
"$root/usr/bin/tessel" --restore "$setting" > /dev/null || fail "--restore"
check "--restore puts the installed setting back" same_as_shipped "$setting"
"$root/usr/bin/tessel" --restore config/none 2> /dev/null && fail "--restore of a file never installed"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package checks passed"
