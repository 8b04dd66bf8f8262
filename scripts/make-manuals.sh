#!/usr/bin/env bash
# Writes the plug-in manuals (Word 97 .doc) from their HTML sources with LibreOffice, headless,
# and records the SHA-256 of each source and each output in docs/manual/manuals.sha256, so
# that a test can tell that the committed files are the output of the current sources.
# LibreOffice is installed when it is missing. Not part of the build: the outputs are
# committed, and the build only copies them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

# source (below docs/manual)   output (below runtime/docs)
manuals=(
  "Deltamaker/zh.html Deltamaker/zh.doc"
  "Deltamaker/en.html Deltamaker/en.doc"
  # The general manual, for languages without one of their own.
  "Deltamaker/en.html Deltamaker.doc"
)

if ! command -v soffice >/dev/null 2>&1; then
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update
  # The Chinese manual needs a CJK font to be laid out.
  "${sudo[@]}" apt-get install -y --no-install-recommends libreoffice-writer-nogui fonts-wqy-microhei
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
record="docs/manual/manuals.sha256"
: > "$work/record"
for entry in "${manuals[@]}"; do
  read -r src out <<< "$entry"
  mkdir -p "$work/out" "runtime/docs/$(dirname "$out")"
  rm -f "$work/out/"*
  # A private profile, so that a running LibreOffice of the user is left alone.
  soffice -env:UserInstallation="file://$work/profile" --headless \
    --convert-to 'doc:MS Word 97' --outdir "$work/out" "docs/manual/$src" >/dev/null
  produced="$work/out/$(basename "${src%.*}").doc"
  [ -s "$produced" ] || { echo "make-manuals: no output for $src" >&2; exit 1; }
  mv "$produced" "runtime/docs/$out.tmp"
  mv "runtime/docs/$out.tmp" "runtime/docs/$out"
  printf '%s %s %s %s\n' "$(sha256sum "docs/manual/$src" | cut -d' ' -f1)" \
    "$(sha256sum "runtime/docs/$out" | cut -d' ' -f1)" "$src" "$out" >> "$work/record"
  echo "runtime/docs/$out <- docs/manual/$src"
done
{
  echo "# source-sha256 output-sha256 source output; written by scripts/make-manuals.sh"
  cat "$work/record"
} > "$record.tmp"
mv "$record.tmp" "$record"
