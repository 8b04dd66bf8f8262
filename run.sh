#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tessel in the build's runtime folder.
set -euo pipefail
TESSEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$TESSEL_ROOT/scripts/setup.sh"

tessel_install_missing
tessel_build "$TESSEL_ROOT/build"
cd "$TESSEL_ROOT/build/runtime"
exec "$TESSEL_ROOT/build/bin/Tessel" "$@"
