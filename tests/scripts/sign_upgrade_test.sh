#!/usr/bin/env bash
# The publisher's tools, in a folder under /tmp whose name has a space:
#   - scripts/sign-upgrade writes a manifest of the folder's regular files
#     and a signature that openssl verifies with the key's public half (and
#     not with another key); versions count up from 1, --version sets one
#     and never goes back; refused names, a wrong key or an empty folder
#     write nothing;
#   - tools/upgrade_signing.py raw-key gives the 64 bytes X || Y of a P-256
#     public key, as openssl sees them, and refuses private keys, other
#     curves and points off the curve.
# Which names the tool refuses, against the program, is the verifier
# test's (tests/app/manifest_names.txt).
#
# Usage: sign_upgrade_test.sh
set -u

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
QV_ROOT=$(cd "$HERE/../.." && pwd)
SIGN=$QV_ROOT/scripts/sign-upgrade
KEYTOOL=$QV_ROOT/tools/upgrade_signing.py
DEMO_PUB=$QV_ROOT/keys/demo-upgrade-signing.pub.pem

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

WORK=$(mktemp -d "/tmp/qv sign test.XXXXXX") || exit 1
trap 'rm -rf "$WORK"' EXIT
F="$WORK/upgrade folder"
mkdir -p "$F"

verifies() { openssl dgst -sha256 -verify "$1" -signature "$F/upgrade.manifest.sig" "$F/upgrade.manifest" >/dev/null 2>&1; }
version_of() { sed -n '3s/^version //p' "$F/upgrade.manifest"; }
snapshot() { cat "$F/upgrade.manifest" "$F/upgrade.manifest.sig" 2>/dev/null | sha256sum; }

# ---- a folder signed --------------------------------------------------------
head -c 70000 /dev/urandom >"$F/QVX.exe"
printf 'chart' >"$F/qvxchart.dll"
mkdir "$F/sub"
printf 'x' >"$F/sub/inside.dat"
if "$SIGN" "$F" >"$WORK/out" 2>&1; then
  pass "signed a folder"
else
  fail "sign-upgrade: $(cat "$WORK/out")"
fi
expected=$(printf 'quotiva-upgrade-manifest 1\nproduct Quotiva\nversion 1\nfile 70000 %s QVX.exe\nfile 5 %s qvxchart.dll\n' \
  "$(sha256sum <"$F/QVX.exe" | cut -d' ' -f1)" "$(printf chart | sha256sum | cut -d' ' -f1)")
if [ "$(cat "$F/upgrade.manifest")" = "$expected" ] && [ "$(tail -c 1 "$F/upgrade.manifest" | od -An -c | tr -d ' ')" = '\n' ]; then
  pass "the manifest names the two files with sizes and SHA-256, version 1; the sub-folder is left out"
else
  fail "manifest: $(cat -A "$F/upgrade.manifest")"
fi
verifies "$DEMO_PUB" && pass "the signature verifies with the demo key's public half" || fail "openssl does not verify it"
# DER as openssl writes it: SEQUENCE of two INTEGERs.
if openssl asn1parse -inform DER -in "$F/upgrade.manifest.sig" 2>/dev/null | grep -c 'prim: INTEGER' | grep -qx 2; then
  pass "the signature is a DER sequence of two integers"
else
  fail "the signature is not DER r, s: $(openssl asn1parse -inform DER -in "$F/upgrade.manifest.sig" 2>&1)"
fi

# ---- versions ------------------------------------------------------------------
"$SIGN" "$F" >/dev/null 2>&1
[ "$(version_of)" = 2 ] && pass "signed again: version 2" || fail "signed again: version $(version_of)"
"$SIGN" "$F" --version 7 >/dev/null 2>&1
[ "$(version_of)" = 7 ] && pass "--version 7" || fail "--version 7 gave $(version_of)"
before=$(snapshot)
if "$SIGN" "$F" --version 6 >"$WORK/out" 2>&1; then
  fail "--version 6 after 7 was taken"
elif [ "$(snapshot)" = "$before" ] && grep -q 'lower than the folder' "$WORK/out"; then
  pass "--version 6 after 7 is refused and nothing is written"
else
  fail "--version 6: $(cat "$WORK/out")"
fi
"$SIGN" "$F" --version 7 >/dev/null 2>&1 && [ "$(version_of)" = 7 ] && pass "the same version again is taken" ||
  fail "--version 7 again"
before=$(snapshot)
for bad in 0 -1 9223372036854775808 x; do
  if "$SIGN" "$F" --version "$bad" >/dev/null 2>&1; then fail "--version $bad taken"; else pass "--version $bad refused"; fi
done
[ "$(snapshot)" = "$before" ] || fail "a refused version changed the folder's manifest"

# ---- refusals write nothing ---------------------------------------------------------
printf 'x' >"$F/NUL.txt"
printf 'x' >"$F/qvx.EXE"
if "$SIGN" "$F" >"$WORK/out" 2>&1; then
  fail "a device name and a second name of QVX.exe were signed"
elif grep -q 'NUL.txt: a name that Windows takes for a device' "$WORK/out" &&
  grep -q 'QVX.exe and qvx.EXE are one file on Windows' "$WORK/out" && [ "$(snapshot)" = "$before" ]; then
  pass "refused names are all listed and nothing is written"
else
  fail "refused names: $(cat "$WORK/out")"
fi
rm -f "$F/NUL.txt" "$F/qvx.EXE"

openssl ecparam -name secp384r1 -genkey -noout 2>/dev/null | openssl pkey -out "$WORK/p384.pem"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out "$WORK/rsa.pem" 2>/dev/null
for key in "$WORK/p384.pem" "$WORK/rsa.pem" "$WORK/missing.pem" "$DEMO_PUB"; do
  if "$SIGN" "$F" --key "$key" >"$WORK/out" 2>&1; then
    fail "signed with $(basename "$key")"
  elif [ "$(snapshot)" = "$before" ]; then
    pass "a signature with $(basename "$key") is refused: $(tail -1 "$WORK/out" | cut -c1-90)"
  else
    fail "the refused key $(basename "$key") changed the folder"
  fi
done

openssl ecparam -name prime256v1 -genkey -noout | openssl pkey -out "$WORK/other.pem"
openssl pkey -in "$WORK/other.pem" -pubout -out "$WORK/other.pub.pem"
"$SIGN" "$F" --key "$WORK/other.pem" >/dev/null 2>&1
if verifies "$WORK/other.pub.pem" && ! verifies "$DEMO_PUB"; then
  pass "--key: the signature is the other key's, not the demo key's"
else
  fail "--key: signature does not match the other key only"
fi

mkdir "$WORK/empty"
"$SIGN" "$WORK/empty" >"$WORK/out" 2>&1 && fail "an empty folder was signed" ||
  { grep -q 'no file to sign' "$WORK/out" && [ ! -e "$WORK/empty/upgrade.manifest" ] &&
    pass "an empty folder is refused" || fail "empty folder: $(cat "$WORK/out")"; }
printf 'not a manifest\n' >"$WORK/empty/upgrade.manifest"
printf 'x' >"$WORK/empty/a.dat"
"$SIGN" "$WORK/empty" >"$WORK/out" 2>&1 && fail "a folder with an unreadable manifest was signed without --version" ||
  pass "an unreadable manifest needs --version: $(tail -1 "$WORK/out" | cut -c1-80)"
"$SIGN" "$WORK/empty" --version 3 >/dev/null 2>&1 && [ "$(sed -n 3p "$WORK/empty/upgrade.manifest")" = "version 3" ] &&
  pass "... and with --version 3 it is replaced" || fail "--version 3 over an unreadable manifest"

"$SIGN" "$F" --bogus >/dev/null 2>&1
[ $? = 2 ] && pass "an unknown option gives the usage (exit 2)" || fail "an unknown option"
"$SIGN" >/dev/null 2>&1
[ $? = 2 ] && pass "no folder gives the usage (exit 2)" || fail "no folder"

# ---- the built-in key ------------------------------------------------------------------
raw_key() { /usr/bin/python3 "$KEYTOOL" raw-key "$1" "$WORK/raw.bin" 2>"$WORK/raw.err"; }
for pub in "$DEMO_PUB" "$WORK/other.pub.pem"; do
  rm -f "$WORK/raw.bin"
  if raw_key "$pub" && cmp -s "$WORK/raw.bin" <(openssl pkey -pubin -in "$pub" -outform DER | tail -c 64) &&
    [ "$(stat -c %s "$WORK/raw.bin")" = 64 ]; then
    pass "raw-key $(basename "$pub"): the 64 bytes X || Y that openssl reads"
  else
    fail "raw-key $(basename "$pub"): $(cat "$WORK/raw.err")"
  fi
done
openssl pkey -in "$WORK/p384.pem" -pubout -out "$WORK/p384.pub.pem"
# The demo key with its last byte (of Y) changed: no point of the curve.
/usr/bin/python3 - "$DEMO_PUB" "$WORK/off-curve.pem" <<'EOF'
import base64, sys
text = open(sys.argv[1]).read().split("\n")
der = bytearray(base64.b64decode("".join(text[1:-2])))
der[-1] ^= 1
b64 = base64.b64encode(bytes(der)).decode()
open(sys.argv[2], "w").write("-----BEGIN PUBLIC KEY-----\n%s\n%s\n-----END PUBLIC KEY-----\n" % (b64[:64], b64[64:]))
EOF
printf 'nothing\n' >"$WORK/garbage.pem"
for case in "demo-upgrade-signing.pem:private key" "p384.pub.pem:not an uncompressed P-256" \
  "off-curve.pem:not a point of the P-256 curve" "garbage.pem:no PEM public key"; do
  file=${case%%:*} why=${case#*:}
  [ "$file" = demo-upgrade-signing.pem ] && path=$QV_ROOT/keys/$file || path=$WORK/$file
  rm -f "$WORK/raw.bin"
  if raw_key "$path"; then
    fail "raw-key took $file"
  elif grep -q "$why" "$WORK/raw.err" && [ ! -e "$WORK/raw.bin" ]; then
    pass "raw-key refuses $file: $why"
  else
    fail "raw-key $file: $(cat "$WORK/raw.err")"
  fi
done

if ((failures > 0)); then
  echo "sign-upgrade: $failures check(s) failed"
  exit 1
fi
echo "sign-upgrade: all checks passed"
