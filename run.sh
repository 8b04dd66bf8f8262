#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tessel in the build's runtime folder.
#   ./run.sh [TESSEL OPTIONS]        the window; without a display, the package builder at work
#                                    on the command line and how to get the window
#   ./run.sh --vnc [TESSEL OPTIONS]  the window on Qt's VNC platform, for a VNC viewer
set -euo pipefail
TESSEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$TESSEL_ROOT/scripts/setup.sh"

vnc=0
if [ "${1:-}" = "--vnc" ]; then
  vnc=1
  shift
fi

# True when Tessel has nothing to show its window on: no display, and QT_QPA_PLATFORM names
# no platform that needs none (offscreen, vnc, ...).
no_display() {
  [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] || return 1
  local platform platforms
  IFS=';' read -ra platforms <<< "${QT_QPA_PLATFORM:-xcb}"
  for platform in "${platforms[@]}"; do
    case "${platform%%:*}" in
      ''|xcb|wayland*) ;;
      *) return 1 ;;
    esac
  done
  return 0
}

tessel_install_missing
tessel_build "$TESSEL_ROOT/build"
if [ "$vnc" = 1 ]; then
  exec "$TESSEL_ROOT/scripts/headless.sh" vnc "$TESSEL_ROOT/build" "$@"
fi
if no_display; then
  exec "$TESSEL_ROOT/scripts/headless.sh" demo "$TESSEL_ROOT/build"
fi
cd "$TESSEL_ROOT/build/runtime"
exec "$TESSEL_ROOT/build/bin/Tessel" "$@"
