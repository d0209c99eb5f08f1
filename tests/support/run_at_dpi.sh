#!/usr/bin/env bash
# Runs a command in a copy of the test prefix (WINEPREFIX) whose display is
# set to another DPI, so that the test prefix itself keeps 96 for every
# other test. The copy has a wineserver of its own, stopped at the end.
#
# Usage: run_at_dpi.sh <dpi> <state folder> <command...>
#   e.g. run_at_dpi.sh 144 build/win/tests/app/dpi144 wine app_scaling_test.exe
#
# Wine 8 takes the DPI of the display from HKCU\Control Panel\Desktop,
# LogPixels (what winecfg's "Screen resolution" writes).
set -u
DPI=$1 STATE=$2
shift 2
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
source "$(dirname "$0")/../../scripts/sandbox.sh"

mkdir -p "$STATE" || exit 1
qv_prefix_copy "$WINEPREFIX" "$STATE/prefix" || { echo "no copy of the prefix $WINEPREFIX" >&2; exit 1; }
export WINEPREFIX=$STATE/prefix
export WINEDEBUG=${WINEDEBUG:--all}
stop() { wineserver -k >/dev/null 2>&1 || true; }
trap stop EXIT
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DPI" /f >/dev/null 2>&1 ||
  { echo "cannot set the DPI of $WINEPREFIX" >&2; exit 1; }
# The setting is read when the server starts: a fresh one for the command.
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
wineserver -p60
# Start the desktop process now, detached and without our standard handles
# (it would hold the caller's output pipe open; see scripts/env.sh).
setsid wine reg query 'HKCU\Control Panel\Desktop' /v LogPixels </dev/null >/dev/null 2>&1
"$@"
