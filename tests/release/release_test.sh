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
#     resolves nothing);
#   - the program carries its version resource (the project's version as
#     file and product version, the company, product, description, file
#     names and copyright) and its manifest (the Windows versions it
#     supports, per-monitor DPI awareness with system awareness to fall back
#     on, the same version);
#   - scripts/release --sign-cert signs the program with a certificate made
#     for this test: the signature verifies against that certificate and
#     against no other, nor once a byte of the program has changed; the
#     checksums are the signed program's; the code and the debug link are
#     untouched, so a crash address still resolves; a wrong password leaves
#     no release files.
#
# Usage: release_test.sh <release folder> <built program (with debug
#                        information)> <objdump> <objcopy> <nm> <addr2line>
#                        <checkout> <Windows build folder> <version a.b.c.d>
#                        <version texts: Name=text|Name=text...>
#                        <the signing key's 64 bytes, as built>
set -u

DIST=$1 BUILT=$2 OBJDUMP=$3 OBJCOPY=$4 NM=$5 ADDR2LINE=$6 ROOT=$7 WIN_BUILD=$8 VERSION=$9 TEXTS=${10} KEY=${11}
EXE=$DIST/QuotivaUpgrade.exe
DEBUG=$EXE.debug
PYTHON=/usr/bin/python3
PE=$(dirname "$0")/pe_resources.py

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# A folder with a blank in its name: the release script takes any.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qv release test.XXXXXX") || exit 1
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
address=
[ -n "$start" ] && address=$(printf '0x%x' $((0x$start + 4)))
# check_crash_address <program> <what it is>
check_crash_address() {
  local resolved
  resolved=$("$ADDR2LINE" -f -e "$1" "$address" | tr '\n' ' ')
  if [[ "$resolved" == "WinMain "*"app/main.cpp:"[0-9]* ]]; then
    pass "$2: $address resolves through the program to: $resolved"
  else
    fail "$2: $address resolves through the program to: $resolved"
  fi
}
if [ -z "$start" ]; then
  fail "no WinMain in the debug file's symbols"
else
  check_crash_address "$EXE" "released program"
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

# ---- version resource and manifest ------------------------------------------
if "$PYTHON" "$PE" version "$EXE" >"$WORK/version" 2>"$WORK/version.err"; then
  expected=("FixedFileVersion=$VERSION" "FixedProductVersion=$VERSION" "Translation=0409 04b0"
    "040904b0/FileVersion=$VERSION" "040904b0/ProductVersion=$VERSION")
  IFS='|' read -r -a texts <<<"$TEXTS"
  for t in "${texts[@]}"; do expected+=("040904b0/$t"); done
  for line in "${expected[@]}"; do
    if grep -qxF -- "$line" "$WORK/version"; then
      pass "version resource: $line"
    else
      fail "version resource has no $line; it holds: $(tr '\n' ';' <"$WORK/version")"
    fi
  done
else
  fail "version resource: $(cat "$WORK/version.err")"
fi
# The reader finds nothing in a program without resources (it does not
# pass whatever it is given).
"$OBJCOPY" --remove-section=.rsrc "$EXE" "$WORK/no-resources.exe"
if "$PYTHON" "$PE" version "$WORK/no-resources.exe" >/dev/null 2>&1; then
  fail "a program without resources reads as having a version resource"
else
  pass "a program without resources has no version resource"
fi

if "$PYTHON" "$PE" manifest "$EXE" >"$WORK/manifest.xml" 2>"$WORK/manifest.err"; then
  "$PYTHON" - "$WORK/manifest.xml" "$VERSION" <<'PY' >"$WORK/manifest.out" 2>&1
import sys
import xml.etree.ElementTree as ET

root = ET.parse(sys.argv[1]).getroot()
version = sys.argv[2]
asm = "{urn:schemas-microsoft-com:asm.v1}"
compat = "{urn:schemas-microsoft-com:compatibility.v1}"
settings05 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
settings16 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
bad = []
identity = root.find(asm + "assemblyIdentity")
if identity is None or identity.get("version") != version:
    bad.append(f"assemblyIdentity version {None if identity is None else identity.get('version')}")
wanted = {
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
}
found = {e.get("Id", "").lower() for e in root.iter(compat + "supportedOS")}
for guid, name in wanted.items():
    print(("" if guid in found else "MISSING ") + "supportedOS " + name)
    if guid not in found:
        bad.append("supportedOS " + name)
aware = [e.text.strip() for e in root.iter(settings05 + "dpiAware") if e.text]
awareness = [e.text for e in root.iter(settings16 + "dpiAwareness") if e.text]
if aware != ["true/pm"]:
    bad.append(f"dpiAware {aware}")
levels = [p.strip() for p in awareness[0].split(",")] if len(awareness) == 1 else []
# Version 2 first; version 1 for the systems that know no version 2.
if levels[:2] != ["PerMonitorV2", "PerMonitor"]:
    bad.append(f"dpiAwareness {awareness}")
print("dpiAware", aware, "dpiAwareness", levels)
if bad:
    print("WRONG: " + "; ".join(bad))
    sys.exit(1)
PY
  if [ $? = 0 ]; then
    pass "manifest: $(tr '\n' ';' <"$WORK/manifest.out")"
  else
    fail "manifest: $(tr '\n' ';' <"$WORK/manifest.out")"
  fi
else
  fail "manifest: $(cat "$WORK/manifest.err")"
fi

# ---- signing ----------------------------------------------------------------
if [ -n "$("$PYTHON" "$PE" signature "$EXE")" ]; then
  fail "the unsigned release program has a certificate table"
fi
# A publisher certificate of our own (self-signed: it is its own trust
# anchor), and one of someone else.
make_cert() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" -keyout "$WORK/$1.key" -out "$WORK/$1.pem" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" >/dev/null 2>&1
}
if ! make_cert publisher "Quotiva Release Test" || ! make_cert other "Someone Else"; then
  fail "openssl cannot make the test certificates"
else
  echo "a password of the test" >"$WORK/password"
  openssl pkcs12 -export -in "$WORK/publisher.pem" -inkey "$WORK/publisher.key" -out "$WORK/publisher.pfx" \
    -passout "file:$WORK/password"
  SIGNED="$WORK/signed dist"
  if QV_WIN_BUILD=$WIN_BUILD "$ROOT/scripts/release" --sign-cert "$WORK/publisher.pfx" \
    --sign-password-file "$WORK/password" "$SIGNED" >"$WORK/release.out" 2>&1; then
    pass "scripts/release --sign-cert wrote $SIGNED"
  else
    fail "scripts/release --sign-cert failed: $(cat "$WORK/release.out")"
  fi
  SEXE=$SIGNED/QuotivaUpgrade.exe
  if [ -f "$SEXE" ]; then
    table=$("$PYTHON" "$PE" signature "$SEXE")
    [ -n "$table" ] && pass "the signed program has a certificate table ($table)" ||
      fail "the signed program has no certificate table"
    if osslsigncode verify -CAfile "$WORK/publisher.pem" -in "$SEXE" >"$WORK/verify.out" 2>&1; then
      pass "the signature verifies against the publisher's certificate"
    else
      fail "the signature does not verify: $(tail -5 "$WORK/verify.out")"
    fi
    if osslsigncode verify -CAfile "$WORK/other.pem" -in "$SEXE" >/dev/null 2>&1; then
      fail "the signature verifies against a certificate that did not sign it"
    else
      pass "the signature does not verify against another certificate"
    fi
    # One byte of the code changed after signing: the digest no longer
    # matches.
    cp "$SEXE" "$WORK/tampered.exe"
    text_at=$("$OBJDUMP" -h "$SEXE" | awk '$2 == ".text" {print $6}')
    offset=$((0x$text_at + 64))
    byte=$(od -An -tu1 -j "$offset" -N1 "$WORK/tampered.exe" | tr -d ' ')
    printf "\\$(printf '%03o' $(((byte + 1) % 256)))" |
      dd of="$WORK/tampered.exe" bs=1 seek="$offset" conv=notrunc status=none
    if osslsigncode verify -CAfile "$WORK/publisher.pem" -in "$WORK/tampered.exe" >/dev/null 2>&1; then
      fail "a program changed after signing still verifies"
    else
      pass "a program changed after signing no longer verifies"
    fi
    if (cd "$SIGNED" && sha256sum --quiet -c SHA256SUMS) && ! cmp -s "$EXE" "$SEXE"; then
      pass "SHA256SUMS holds the signed program's checksum"
    else
      fail "SHA256SUMS does not match the signed release files"
    fi
    "$OBJCOPY" -O binary -j .text "$SEXE" "$WORK/signed.text"
    cmp -s "$WORK/signed.text" "$WORK/built.text" && pass "signing left the code as built" ||
      fail "the signed program's code differs from the built program's"
    cmp -s "$SIGNED/QuotivaUpgrade.exe.debug" "$DEBUG" && pass "the debug file is the release's" ||
      fail "the signed release's debug file differs"
    [ -n "$address" ] && check_crash_address "$SEXE" "signed program"
  fi
  # A wrong password: the release fails and leaves no release files.
  echo "not the password" >"$WORK/wrong"
  if QV_WIN_BUILD=$WIN_BUILD "$ROOT/scripts/release" --sign-cert "$WORK/publisher.pfx" \
    --sign-password-file "$WORK/wrong" "$WORK/refused" >"$WORK/refused.out" 2>&1; then
    fail "scripts/release signed with a wrong password"
  elif [ -n "$(ls -A "$WORK/refused" 2>/dev/null)" ]; then
    fail "a failed signing left files: $(ls "$WORK/refused" | tr '\n' ' ')"
  else
    pass "a wrong password fails the release and leaves no release files"
  fi
fi

if ((failures > 0)); then
  echo "release files: $failures check(s) failed"
  exit 1
fi
echo "release files: all checks passed"
