# Shared by run.sh and test.sh: installs what is missing, then configures and builds.
# Sourced, not run.

# qtbase5-dev brings libqt5gui5, whose platform plug-ins include vnc (run.sh --vnc) and offscreen.
TESSEL_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qtbase5-dev libqt5serialport5-dev
  lzma-dev zlib1g-dev libssl-dev libdivsufsort-dev
  libgtest-dev libbenchmark-dev
  fonts-wqy-microhei qttranslations5-l10n
  xvfb xauth xdotool
  dpkg-dev lintian desktop-file-utils help2man
  clang libclang-rt-14-dev
)

tessel_fail() {
  echo "error: $*" >&2
  exit 1
}

tessel_install_missing() {
  local missing=()
  local pkg
  for pkg in "${TESSEL_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || tessel_fail "need root (or sudo) to install: ${missing[*]}"
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q </dev/null || tessel_fail "apt-get update failed"
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null \
    || tessel_fail "apt-get install failed for: ${missing[*]}"
}

# tessel_build BUILD_DIR [extra cmake arguments...]; TESSEL_BUILD_TARGET builds only that target.
tessel_build() {
  local dir="$1"
  shift
  local generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  # A compiler cache, where the developer has one, makes rebuilds in fresh checkouts cheap.
  if command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
    export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
  fi
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q "CMAKE_HOME_DIRECTORY:INTERNAL=$TESSEL_ROOT\$" "$dir/CMakeCache.txt"; then
    rm -rf "$dir"   # a build folder copied from another checkout
  fi
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$TESSEL_ROOT" -B "$dir" "${generator[@]}" "$@" || tessel_fail "cmake configure failed"
  else
    cmake -S "$TESSEL_ROOT" -B "$dir" "$@" >/dev/null || tessel_fail "cmake configure failed"
  fi
  cmake --build "$dir" -j "$(nproc)" ${TESSEL_BUILD_TARGET:+--target "$TESSEL_BUILD_TARGET"} \
    || tessel_fail "build failed"
}
