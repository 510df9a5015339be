# Shared set-up for scripts/test, scripts/run and scripts/bench. Sourced, not run.
# Installs what is missing, configures and builds, prepares the Wine prefix and a virtual display.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

log() { printf '==> %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  local wanted=(cmake make g++-mingw-w64-i686-posix mingw-w64-i686-dev googletest
                wine wine32:i386 fonts-wine xvfb xauth fonts-ipafont-gothic imagemagick x11-utils git python3 "$@")
  local missing=() p
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null; then
    echo "need root or sudo to install: ${missing[*]}" >&2; return 1
  fi
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  # A mirror in the middle of a sync fails an index now and then: try again, then go on with the
  # lists there are; the install itself says when a package cannot be had.
  local try
  for try in 1 2 3; do
    as_root apt-get -o DPkg::Lock::Timeout=600 update -qq && break
    [ "$try" -lt 3 ] && sleep 15
  done
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The scripts' builds fail on any warning; a build configured by hand keeps warnings as warnings.
WARNINGS_FAIL=-DCMAKE_COMPILE_WARNING_AS_ERROR=ON
configure_cross() {
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" "$WARNINGS_FAIL" >/dev/null
}

configure_and_build() {
  configure_cross
  cmake --build "$BUILD" -j "$(nproc)"
}

# A private prefix that never waits for a click, renders Japanese and draws the title bar's
# buttons with Marlett. Wine 8 does not find Marlett where fonts-wine puts it, only in the prefix's
# own Fonts folder. A new marker name rebuilds a prefix made before a change here.
PREFIX_MARKER=.varnelo-ready-marlett
prepare_prefix() {
  if [ ! -f "$WINEPREFIX/$PREFIX_MARKER" ]; then
    log "creating Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    wine regedit /S "$ROOT/scripts/prefix.reg" >/dev/null 2>&1
    wineserver -w
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    touch "$WINEPREFIX/$PREFIX_MARKER"
  fi
}

# Starts Xvfb on a free display; stops it on exit. With "reuse", a usable desktop display is kept.
XVFB_PID=
start_display() {
  if [ "${1:-}" = reuse ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local fifo; fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local n
  if ! read -r -t 20 n <"$fifo"; then rm -f "$fifo"; echo "Xvfb did not start" >&2; return 1; fi
  rm -f "$fifo"
  export DISPLAY=":$n"
  trap stop_display EXIT
  # A wineserver that stays up for the whole run keeps each test's start short.
  # Its helper processes (services, explorer) start here, so they hold no test's output pipe.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

stop_display() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  XVFB_PID=
}

# The time of the sources: the last commit's, else the newest file's outside the build folder.
source_date_epoch() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then echo "$SOURCE_DATE_EPOCH"; return 0; fi
  if [ "$(git -C "$ROOT" rev-parse --show-toplevel 2>/dev/null)" = "$ROOT" ]; then
    git -C "$ROOT" log -1 --format=%ct
  else
    find "$ROOT" -path "$BUILD" -prune -o -type f -printf '%T@\n' | sort -n | tail -n 1 | cut -d. -f1
  fi
}

# The PC/SC tool and its integration tests, natively with g++: $PCSC_TOOL, and the given targets
# of tests/pcsc in $PCSC_TESTS. Packages: install_packages $PCSC_PACKAGES.
PCSC_PACKAGES="g++ pkg-config pcscd vsmartcard-vpcd libpcsclite-dev python3-pyscard"
PCSC_TOOL=$BUILD/pcsc-native/varnelo-reader
PCSC_TESTS=$BUILD/pcsc-tests
build_pcsc_native() {
  local targets=() t
  for t in "$@"; do targets+=(--target "$t"); done
  CXX=g++ cmake -S "$ROOT/tool" -B "$BUILD/pcsc-native" "$WARNINGS_FAIL" >/dev/null &&
    cmake --build "$BUILD/pcsc-native" -j "$(nproc)" --target varnelo-reader >/dev/null &&
    CXX=g++ cmake -S "$ROOT/tests/pcsc" -B "$PCSC_TESTS" "$WARNINGS_FAIL" >/dev/null &&
    cmake --build "$PCSC_TESTS" -j "$(nproc)" "${targets[@]}" >/dev/null
}
