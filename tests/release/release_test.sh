#!/usr/bin/env bash
# The release files as a user receives them (build/win/dist, which
# scripts/release copies to dist/):
#   - SHA256SUMS names the program and its debug file, and both match it;
#   - the program carries no debug information and no symbols, imports only
#     DLLs that come with Windows, and its code is the built program's;
#   - it carries the upgrade signing key the build was configured with;
#   - the debug file carries the debug information, and a crash address in
#     the stripped program resolves to its function and source line through
#     the program's link to that file (and only through it: a program
#     without the file beside it, or beside a file that is not its own,
#     resolves nothing).
#
# Usage: release_test.sh <release folder> <built program (with debug
#                        information)> <objdump> <objcopy> <nm> <addr2line>
#                        <the signing key's 64 bytes, as built>
set -u

DIST=$1 BUILT=$2 OBJDUMP=$3 OBJCOPY=$4 NM=$5 ADDR2LINE=$6 KEY=$7
EXE=$DIST/QuotivaUpgrade.exe
DEBUG=$EXE.debug

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qv-release-test.XXXXXX") || exit 1
trap 'rm -rf "$WORK"' EXIT

# ---- files and checksums ---------------------------------------------------
for f in "$EXE" "$DEBUG" "$DIST/SHA256SUMS"; do
  [ -f "$f" ] || { echo "FAIL: missing $f"; exit 1; }
done
listed=$(awk '{print $2}' "$DIST/SHA256SUMS" | sort | tr '\n' ' ')
if [ "$listed" = "QuotivaUpgrade.exe QuotivaUpgrade.exe.debug " ]; then
  pass "SHA256SUMS lists the program and its debug file"
else
  fail "SHA256SUMS lists: $listed"
fi
if (cd "$DIST" && sha256sum --quiet -c SHA256SUMS); then
  pass "the files match SHA256SUMS"
else
  fail "sha256sum -c SHA256SUMS"
fi

# ---- the stripped program -----------------------------------------------------
sections=$("$OBJDUMP" -h "$EXE" | awk '$1 ~ /^[0-9]+$/ {print $2}')
if grep -q '^\.debug' <<<"$sections"; then
  fail "the program has debug sections: $(grep '^\.debug' <<<"$sections" | tr '\n' ' ')"
else
  pass "no debug sections in the program"
fi
grep -qx '\.gnu_debuglink' <<<"$sections" && pass "the program links to its debug file" ||
  fail "the program has no .gnu_debuglink section"
if [ -n "$("$NM" "$EXE" 2>/dev/null)" ]; then
  fail "the program still has symbols"
else
  pass "no symbols in the program"
fi
exe_size=$(stat -c %s "$EXE") built_size=$(stat -c %s "$BUILT")
if ((exe_size * 4 < built_size)); then
  pass "the program has $exe_size bytes (built with debug information: $built_size)"
else
  fail "the program has $exe_size bytes, the built one $built_size: not stripped?"
fi

# Every import a DLL of Windows itself: no runtime DLL of the compiler.
SYSTEM_DLLS=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
  oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll winmm.dll ws2_32.dll "
imports=$("$OBJDUMP" -p "$EXE" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found (objdump -p)"
for dll in $imports; do
  if [[ "$SYSTEM_DLLS" == *" $dll "* ]]; then
    pass "imports $dll"
  else
    fail "imports $dll, which does not come with Windows"
  fi
done

# The code is the built program's, byte for byte.
"$OBJCOPY" -O binary -j .text "$EXE" "$WORK/release.text"
"$OBJCOPY" -O binary -j .text "$BUILT" "$WORK/built.text"
if [ -s "$WORK/release.text" ] && cmp -s "$WORK/release.text" "$WORK/built.text"; then
  pass "the program's code is the built program's"
else
  fail "the program's code differs from the built program's"
fi

# The key's 64 bytes, once, in the stripped program (its resource UPGRADEKEY).
copies=$(/usr/bin/python3 -c 'import sys; print(open(sys.argv[1], "rb").read().count(open(sys.argv[2], "rb").read()))' \
  "$EXE" "$KEY" 2>&1)
if [ "$(stat -c %s "$KEY" 2>/dev/null)" = 64 ] && [ "$copies" = 1 ]; then
  pass "the program carries the upgrade signing key"
else
  fail "the signing key's bytes are in the program $copies time(s)"
fi

# ---- the debug file and a crash address ---------------------------------------
debug_sections=$("$OBJDUMP" -h "$DEBUG" | awk '$1 ~ /^[0-9]+$/ {print $2}')
for s in .debug_info .debug_line; do
  grep -qx "$s" <<<"$debug_sections" && pass "the debug file has $s" || fail "the debug file has no $s"
done

# An address inside WinMain, as a crash report gives it (module offset plus
# the image base).
start=$("$NM" "$DEBUG" | awk '$3 == "WinMain" {print $1}')
if [ -z "$start" ]; then
  fail "no WinMain in the debug file's symbols"
else
  address=$(printf '0x%x' $((0x$start + 4)))
  resolved=$("$ADDR2LINE" -f -e "$EXE" "$address" | tr '\n' ' ')
  if [[ "$resolved" == "WinMain "*"app/main.cpp:"[0-9]* ]]; then
    pass "$address resolves through the program to: $resolved"
  else
    fail "$address resolves through the program to: $resolved"
  fi
  # Without its debug file, or beside a debug file that is not its own
  # (one byte changed: the link's checksum no longer matches), the program
  # resolves nothing.
  mkdir -p "$WORK/alone" "$WORK/other"
  cp "$EXE" "$WORK/alone/"
  cp "$EXE" "$DEBUG" "$WORK/other/"
  other=$WORK/other/QuotivaUpgrade.exe.debug
  size=$(stat -c %s "$other")
  byte=$(od -An -tu1 -j $((size - 1)) -N1 "$other" | tr -d ' ')
  printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$other" bs=1 seek=$((size - 1)) conv=notrunc status=none
  for case in alone other; do
    resolved=$("$ADDR2LINE" -f -e "$WORK/$case/QuotivaUpgrade.exe" "$address" | tr '\n' ' ')
    if [[ "$resolved" == "?? ??:0 " ]]; then
      pass "$case: resolves nothing"
    else
      fail "$case: $address resolves to: $resolved"
    fi
  done
fi

if ((failures > 0)); then
  echo "release files: $failures check(s) failed"
  exit 1
fi
echo "release files: all checks passed"
