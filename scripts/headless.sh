#!/usr/bin/env bash
# Tessel on a machine without a display, on a built tree (run.sh calls it after the build):
#   headless.sh demo BUILD_DIR [PACKAGE_DIR]   builds and verifies a package for each board from
#                                              the samples, prints a summary and how to get the
#                                              window; the packages go to PACKAGE_DIR (default:
#                                              the samples folder)
#   headless.sh vnc BUILD_DIR [TESSEL ARGS...]  starts Tessel on Qt's VNC platform on a free port
#                                              from 5900 (or TESSEL_VNC_PORT) and prints the
#                                              address for a VNC viewer; runs until Tessel ends
#                                              (Ctrl-C ends both)
set -euo pipefail

fail() {
  echo "error: $*" >&2
  exit 1
}

# Must stay the lines that Tessel prints after its first one when it finds no display.
print_window_hint() {
  cat <<'HINT'
To get the window: start Tessel in a desktop session, log in with "ssh -X" to bring
it to your own screen, or put it on Qt's VNC platform and point a VNC viewer at it:
"./run.sh --vnc" in the source folder prints the address (elsewhere, QT_QPA_PLATFORM=vnc).
HINT
}

# A path as the user would type it from the current folder.
shown() {
  local path=$1
  [[ "$path" == "$PWD"/* ]] && path=${path#"$PWD"/}
  printf '%s' "$path"
}

# demo_one BOARD METHOD LABEL OPTIONS...: one build and one verification, one summary row.
demo_one() {
  local board=$1 method=$2 label=$3
  shift 3
  local name
  name="$(tr '[:upper:]' '[:lower:]' <<< "$board")_m$method.pkg"
  local pkg="$out/$name" log
  if ! log=$(cd "$samples" && "$bin/deltamaker" build --quiet --method "$method" "$@" --output "$pkg" 2>&1); then
    printf '%s\n' "$log" >&2
    fail "deltamaker could not build the $board package (the log is above)"
  fi
  # The builder's own timing: "package written: PATH (0.08 s)".
  local seconds
  seconds=$(sed -n 's/^package written: .* (\([0-9.]*\) s)$/\1/p' <<< "$log")
  if ! log=$(cd "$samples" && "$bin/deltamaker" verify "$pkg" "$@" 2>&1) ||
     [ "$(tail -n 1 <<< "$log")" != "package is sound" ]; then
    printf '%s\n' "$log" >&2
    fail "the $board package did not verify (the findings are above)"
  fi
  # The new image is the value after --new.
  local image=
  while [ $# -gt 1 ]; do
    [ "$1" = --new ] && image="$samples/$2"
    shift
  done
  printf '  %-8s  %-14s  %9s B  %-15s %8s B  %5s s  verified\n' "$board" "$method ($label)" \
    "$(stat -c %s "$image")" "$name" "$(stat -c %s "$pkg")" "${seconds:-?}"
}

demo() {
  local build
  build=$(cd "$1" && pwd) || fail "no build folder $1"
  bin="$build/bin"
  samples="$build/runtime/samples"
  out=${2:-$samples}
  [ -x "$bin/deltamaker" ] || fail "$bin/deltamaker is missing: build first (./run.sh does)"
  [ -f "$samples/README.txt" ] || fail "the samples are missing from $samples: build first"
  mkdir -p -- "$out"
  out=$(cd "$out" && pwd)
  echo "There is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so instead of"
  echo "Tessel's window, here is its package builder at work on the command line."
  echo
  echo "deltamaker builds an in-place upgrade package for each board from the samples in"
  echo "$(shown "$samples")/ and checks it against its inputs:"
  printf '  %-8s  %-14s  %11s  %-15s %10s  %7s  %s\n' board method "new image" package size time check
  demo_one ZN3150 3 in-place \
    --partition zn3150/partition.bin --old zn3150/old.bin --new zn3150/new.bin
  demo_one KLM4410 3 in-place \
    --partition klm4410/partition.bin --boot klm4410/boot.bin \
    --old klm4410/diff_old.bin --new klm4410/diff_new.bin
  echo
  echo "The packages are in $(shown "$out")/. $(shown "$samples")/README.txt has a command for"
  echo "every method, and \"$(shown "$bin")/deltamaker --help\" tells the rest."
  echo
  print_window_hint
}

# True when something accepts connections on local port $1.
port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# The process that listens on local port $1, when it is one of this user's.
listener_of() {
  local hex inode fd
  hex=$(printf ':%04X' "$1")
  for inode in $(awk -v port="$hex" '$4 == "0A" && substr($2, length($2) - 4) == port { print $10 }' \
                   /proc/net/tcp /proc/net/tcp6 2>/dev/null); do
    fd=$(find /proc/[0-9]*/fd -lname "socket:\[$inode\]" -print -quit 2>/dev/null)
    if [ -n "$fd" ]; then
      fd=${fd#/proc/}
      printf '%s\n' "${fd%%/*}"
      return 0
    fi
  done
  return 1
}

vnc() {
  local build
  build=$(cd "$1" && pwd) || fail "no build folder $1"
  shift
  local host="$build/bin/Tessel"
  [ -x "$host" ] || fail "$host is missing: build first (./run.sh does)"
  cd "$build/runtime"
  local first=${TESSEL_VNC_PORT:-5900}
  local port=$((first - 1)) pid= tries code
  # Ctrl-C reaches this script only (a background job ignores it): end Tessel with it.
  trap '[ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid"; exit 130' INT
  trap '[ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid"; exit 143' TERM
  while [ -z "$pid" ]; do
    port=$((port + 1))
    [ "$port" -lt $((first + 100)) ] && [ "$port" -le 65535 ] ||
      fail "no free port for the VNC server from $first on"
    port_open "$port" && continue
    # No window manager here: the window fills the screen, as it has no frame to move it by.
    QT_QPA_PLATFORM="vnc:size=1366x768:port=$port" "$host" -qwindowgeometry 1366x768+0+0 "$@" &
    pid=$!
    tries=0
    # Qt's VNC server goes on without listening when another program took the port first:
    # then the next port.
    until [ "$(listener_of "$port")" = "$pid" ]; do
      if ! kill -0 "$pid" 2>/dev/null; then
        code=0
        wait "$pid" || code=$?
        fail "Tessel ended (exit code $code) before its VNC server listened"
      fi
      tries=$((tries + 1))
      if { port_open "$port" && [ "$(listener_of "$port")" != "$pid" ]; } || [ "$tries" -gt 600 ]; then
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" || true
        pid=
        break
      fi
      sleep 0.1
    done
  done
  local name
  name=$(hostname 2>/dev/null || echo HOST)
  cat <<EOF
Tessel runs on Qt's VNC platform (1366x768) on port $port. Point a VNC viewer at
  $name::$port   (localhost::$port on this machine; display :$((port - 5900)))
The VNC server asks for no password and listens on every network interface: on a shared
network, tunnel it instead (ssh -L $port:localhost:$port YOU@$name, then localhost::$port).
Tessel runs until you close its window or press Ctrl-C here.
EOF
  code=0
  wait "$pid" || code=$?
  # A language switch makes Tessel start a new copy of itself (on the same port) and end:
  # follow the copy, so that Ctrl-C still ends it.
  while [ "$code" = 0 ]; do
    sleep 1
    pid=$(listener_of "$port") || break
    [ "$(readlink "/proc/$pid/exe")" = "$(readlink -f "$host")" ] || break
    while kill -0 "$pid" 2>/dev/null; do
      sleep 1
    done
  done
  exit "$code"
}

case "${1:-}" in
  demo) [ $# -ge 2 ] || fail "usage: headless.sh demo BUILD_DIR [PACKAGE_DIR]"; shift; demo "$@" ;;
  vnc) [ $# -ge 2 ] || fail "usage: headless.sh vnc BUILD_DIR [TESSEL ARGS...]"; shift; vnc "$@" ;;
  *) fail "usage: headless.sh demo|vnc BUILD_DIR ..." ;;
esac
