#!/usr/bin/env bash
# The functions of scripts/sandbox.sh with a state folder under /tmp whose
# name has a space in it, as a fresh checkout under /tmp would use them:
#   - the state folder and the checkout stay visible in the namespace;
#   - the namespace has only the loopback interface, and the two server
#     names lead to 127.0.0.1 and 127.0.0.2 there, while the host's
#     /etc/hosts is left as it was;
#   - Wine in the namespace starts a server of its own, in the namespace and
#     below the state folder, even while a server outside serves the same
#     prefix (it must not reach that one: its sockets live outside);
#   - an FTP server started by name answers on port 21 of the spare address,
#     and stops;
#   - the sample installation has the product's program file.
# Root only (exit 77, reported as skipped, where a namespace cannot be made).
#
# Usage: sandbox_test.sh           (WINEPREFIX names the test prefix)
set -u

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
QV_ROOT=$(cd "$HERE/../.." && pwd)
# shellcheck source=../../scripts/sandbox.sh
source "$QV_ROOT/scripts/sandbox.sh"
MAIN=upgrade.sandbox-test.example
SPARE=upgrade2.sandbox-test.example

if [ "${1:-}" != --inside ]; then
  if ! reason=$(qv_sandbox_check); then
    echo "SKIPPED: $reason"
    exit 77
  fi
  : "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
  STATE=$(mktemp -d "/tmp/qv sandbox test.XXXXXX") || exit 1
  OUTSIDE_PREFIX=$STATE/prefix
  cleanup() {
    WINEPREFIX=$OUTSIDE_PREFIX wineserver -k >/dev/null 2>&1
    rm -rf "$STATE"
  }
  trap cleanup EXIT
  echo "made outside" >"$STATE/marker"
  hosts_before=$(sha256sum </etc/hosts)
  # A prefix with a persistent server outside the namespace.
  qv_prefix_copy "$WINEPREFIX" "$OUTSIDE_PREFIX" || exit 1
  WINEPREFIX=$OUTSIDE_PREFIX wineserver -p60 || { echo "FAIL: no wineserver outside"; exit 1; }
  qv_sandbox_run bash "${BASH_SOURCE[0]}" --inside "$STATE" "$OUTSIDE_PREFIX"
  status=$?
  if [ "$(sha256sum </etc/hosts)" != "$hosts_before" ] || grep -q "$MAIN" /etc/hosts; then
    echo "FAIL: the host's /etc/hosts changed"
    status=1
  fi
  if [ -e "$STATE/inside-only" ]; then
    echo "ok: what the namespace wrote to its state folder is there afterwards"
  else
    echo "FAIL: the namespace's file in the state folder is missing"
    status=1
  fi
  [ $status = 0 ] && echo "sandbox: all checks passed"
  exit $status
fi

# ---- inside the namespace ---------------------------------------------------
STATE=$2 PREFIX=$3
failures=0
check() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
finish() {
  qv_ftp_server_stop "$STATE/ftp"
  WINEPREFIX=$PREFIX wineserver -k >/dev/null 2>&1
  if ((failures > 0)); then echo "$failures check(s) failed"; exit 1; fi
  exit 0
}

if ! qv_sandbox_setup "$STATE/namespace" "$MAIN" "$SPARE"; then
  echo "FAIL: qv_sandbox_setup"
  exit 1
fi
check "the state folder under /tmp is visible" grep -qx "made outside" "$STATE/marker"
check "the checkout is visible" test -f "$QV_ROOT/scripts/sandbox.sh"
touch "$STATE/inside-only"
check "TMPDIR lies in the state folder" test "${TMPDIR:-}" = "$STATE/namespace/tmp" -a -d "${TMPDIR:-}"

links=$(ip -o link show | awk -F': ' '{print $2}' | tr '\n' ' ')
check "only the loopback interface ($links)" test "$links" = "lo "
check "the loopback interface is up" bash -c "ip -o link show lo | grep -q 'UP'"
check "the main name leads to 127.0.0.1" test "$(getent hosts "$MAIN" | awk '{print $1}')" = 127.0.0.1
check "the spare name leads to 127.0.0.2" test "$(getent hosts "$SPARE" | awk '{print $1}')" = 127.0.0.2

# Wine, on the prefix that a server outside serves.
export WINEPREFIX=$PREFIX WINEDEBUG=-all
out=$(wine cmd /c echo inside 2>/dev/null | tr -d '\r')
check "a Windows program runs" test "$out" = inside
server=$(pgrep -x wineserver64 || pgrep -x wineserver)
check "its wineserver runs in the namespace" test -n "$server"
if [ -n "$server" ]; then
  folder=$(readlink "/proc/${server%%$'\n'*}/cwd")
  check "the server's socket folder ($folder) is below the state folder" \
    test "${folder#"$STATE/namespace/tmp/"}" != "$folder"
fi

# An FTP server by the spare name.
mkdir -p "$STATE/ftp-root"
if qv_ftp_server_start "$STATE/ftp" --host 127.0.0.2 --port 21 --root "$STATE/ftp-root" --user qvtest:qvpass; then
  greeting=$(/usr/bin/python3 -c '
import socket, sys
s = socket.create_connection((sys.argv[1], 21), timeout=10)
print(s.makefile("rb").readline().decode().strip())' "$SPARE" 2>&1)
  check "the FTP server answers by the spare name ($greeting)" test "${greeting:0:4}" = "220 "
  qv_ftp_server_stop "$STATE/ftp"
  check "the FTP server stopped" bash -c "! /usr/bin/python3 -c 'import socket; socket.create_connection((\"127.0.0.2\", 21), timeout=2)' 2>/dev/null"
else
  check "the FTP server starts" false
fi

qv_sample_installation "$STATE/drive-d"
check "the sample installation has Zentra/main/QVX.exe" test -f "$STATE/drive-d/Zentra/main/QVX.exe"
finish
