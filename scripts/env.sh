# Shared by scripts/test and scripts/demo: packages, build folders, the
# private Wine prefix. Source it; it defines functions and variables only.

QV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QV_BUILD=${QV_BUILD:-$QV_ROOT/build}
QV_WIN_BUILD=${QV_WIN_BUILD:-$QV_BUILD/win}
QV_NATIVE_BUILD=$QV_BUILD/native
# What a user receives, made by the Windows build (scripts/release copies
# it to dist/): the stripped program, its debug file, SHA256SUMS.
QV_RELEASE_DIR=$QV_WIN_BUILD/dist
QV_RELEASE_EXE=$QV_RELEASE_DIR/QuotivaUpgrade.exe
export WINEPREFIX=$QV_BUILD/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko installer prompts in the private prefix, and no debugger:
# a crashing program must end with a failure code, not wait in winedbg.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

QV_PACKAGES=(
  cmake ninja-build g++ googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  xvfb xauth fonts-wqy-microhei
  python3 python3-pyftpdlib netbase
  iproute2 util-linux procps
  # Signed upgrades: openssl signs (scripts/sign-upgrade) and libcrypto
  # checks the verifier in the native tests; Wine's bcrypt.dll does its
  # ECDSA through GnuTLS, which it loads at run time. Signed releases:
  # osslsigncode.
  openssl libssl-dev libgnutls30 osslsigncode
  # A second real FTP server for the end-to-end tests (started by the test
  # itself, in its own network namespace; never as a service).
  pure-ftpd
)

# Only scripts/screenshot needs these (xdpyinfo; import and convert).
QV_SCREENSHOT_PACKAGES=(xvfb xauth x11-utils imagemagick fonts-wqy-microhei)

qv_log() { printf '\033[1m== %s\033[0m\n' "$*"; }

# Installs whatever of QV_PACKAGES (or of the packages given) is missing.
qv_install_packages() {
  local missing=()
  local p
  local wanted=("$@")
  ((${#wanted[@]} == 0)) && wanted=("${QV_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  qv_log "installing: ${missing[*]}"
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages and not root: ${missing[*]}" >&2
    return 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # Packages that bring a service (pure-ftpd) must not start it on this
  # machine: the tests start their servers where they need them.
  local policy=/usr/sbin/policy-rc.d ours=0 status
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod +x "$policy" && ours=1
  fi
  apt-get install -y -qq "${missing[@]}" >/dev/null
  status=$?
  ((ours)) && rm -f "$policy"
  return $status
}

# Configures what is not configured yet and builds; both builds, or only
# the one named (windows or native).
qv_configure_and_build() {
  local which=${1:-all}
  if [ "$which" != native ] && [ ! -f "$QV_WIN_BUILD/build.ninja" ]; then
    qv_log "configuring the Windows build"
    cmake -S "$QV_ROOT" -B "$QV_WIN_BUILD" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$QV_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  fi
  if [ "$which" != windows ] && [ ! -f "$QV_NATIVE_BUILD/build.ninja" ]; then
    qv_log "configuring the native build (sanitizers)"
    cmake -S "$QV_ROOT" -B "$QV_NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  fi
  if [ "$which" != native ]; then qv_build "Windows" "$QV_WIN_BUILD" || return 1; fi
  if [ "$which" != windows ]; then qv_build "native" "$QV_NATIVE_BUILD" || return 1; fi
}

qv_build() {
  qv_log "building ($1)"
  local log=$2/build.log
  if ! ninja -C "$2" >"$log" 2>&1; then
    grep -v '^\[[0-9]*/[0-9]*\]' "$log"
    return 1
  fi
}

# Creates the private prefix once (null graphics driver: windows and message
# boxes work without X), brings its settings up to date, then keeps one
# wineserver for the whole run.
qv_wine_prefix() {
  local graphics=${1:-null}
  if [ ! -f "$WINEPREFIX/.qv-ready" ]; then
    qv_log "creating the Wine prefix"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.qv-ready"
  fi
  qv_wine_graphics "$graphics"
  qv_wine_settings
  # The setup commands above ran under the previous graphics driver: end
  # their server (and its desktop) so the next start uses the new driver.
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  # Persistent, but not forever: a server whose prefix was deleted under it
  # (rm -rf build) can no longer be reached to be stopped, and must not
  # outlive the run by more than a few minutes.
  wineserver -p300
  # Start the desktop process now, detached and without our standard
  # handles: started by the first test, it would hold ctest's output pipe
  # open for as long as the server lives.
  setsid wine reg query 'HKCU\Software\Wine\Drivers' </dev/null >/dev/null 2>&1
}

# Settings of the prefix; raise QV_WINE_SETTINGS when they change so that
# existing prefixes get them too.
QV_WINE_SETTINGS=3
qv_wine_settings() {
  [ "$(cat "$WINEPREFIX/.qv-settings" 2>/dev/null)" = "$QV_WINE_SETTINGS" ] && return 0
  qv_log "applying the Wine prefix settings"
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
  # Chinese texts. Fonts asked for with the Big5 character set get a font
  # with Big5 glyphs in place of the classic dialog font; the dialog and
  # caption fonts fall back to it for the glyphs they lack (the window
  # caption, and Chinese captions of controls with the default character
  # set).
  wine reg add "$key\FontSubstitutes" /v 'MS Sans Serif,136' /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
  local font
  for font in 'Tahoma' 'Tahoma Bold' 'MS Sans Serif' 'Microsoft Sans Serif' 'MS Shell Dlg' 'MS Shell Dlg 2'; do
    wine reg add "$key\FontLink\SystemLink" /v "$font" /t REG_MULTI_SZ \
      /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
  done
  # The caption buttons are glyphs of the Marlett font, which this Wine keeps
  # outside the prefix; without it the close box shows a plain "r".
  local marlett=/usr/share/wine/fonts/marlett.ttf
  [ -f "$marlett" ] && cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
  echo "$QV_WINE_SETTINGS" >"$WINEPREFIX/.qv-settings"
}

qv_wine_graphics() {
  if [ "$1" = null ]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  else
    wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1 || true
  fi
}

# The Windows path of a file as one quoted word of the UI driver's scripts
# (tests/e2e/ui_driver.cpp): the path may hold blanks, and backslashes are
# escapes there.
qv_driver_path() {
  local path
  path=$(winepath -w "$1" 2>/dev/null) || return 1
  path=${path//\\/\\\\}
  printf '"%s"' "${path//\"/\\\"}"
}

qv_wine_stop() { wineserver -k >/dev/null 2>&1 || true; }
