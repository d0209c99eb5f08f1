#!/usr/bin/env bash
# Signed upgrade folders for the verifier's tests, made by the publisher's
# tool (scripts/sign-upgrade) as a publisher makes them, so that the tool
# and the program are tested against each other:
#   good/          a few files, version 5, the demo key
#   other-key/     the same files, version 5, signed with a key made here
#   product/       the same files, signed for another product
#   malformed/     manifests the tool refuses to write, signed with openssl
#                  directly as the tool signs (NAME.manifest, NAME.sig)
#   names/         one folder per line of manifest_names.txt, signed where
#                  the tool agrees, and verdicts.txt: the tool's verdicts
#   demo.key.bin, other.key.bin   the two public keys, X || Y
#
# Usage: make_signed_folders.sh OUTPUT-FOLDER
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
SIGN=$ROOT/scripts/sign-upgrade
KEYTOOL=$ROOT/tools/upgrade_signing.py
DEMO_KEY=$ROOT/keys/demo-upgrade-signing.pem
OUT=$1

rm -rf "$OUT"
mkdir -p "$OUT"
cd "$OUT"

/usr/bin/python3 "$KEYTOOL" raw-key "$ROOT/keys/demo-upgrade-signing.pub.pem" demo.key.bin
openssl ecparam -name prime256v1 -genkey -noout | openssl pkey -out other.pem
openssl pkey -in other.pem -pubout -out other.pub.pem
/usr/bin/python3 "$KEYTOOL" raw-key other.pub.pem other.key.bin

# Files: one larger than the program's read chunk (256 KiB) and not a
# multiple of it, an empty one, names with a blank and with Big5 bytes
# (the second byte of a character an ASCII letter and a backslash).
mkdir good
head -c 300007 /dev/urandom >good/QVX.exe
head -c 4096 /dev/urandom >good/qvxchart.dll
: >good/empty.dat
printf 'symbols\n' >"good/new data.dat"
printf 'big5\n' >"good/$(printf '\xa4U\xb8\xfc.txt')"
printf 'backslash\n' >"good/$(printf '\xa5\\.dll')"
"$SIGN" good --version 5 >/dev/null
mkdir other-key product
cp -p good/* other-key/
rm other-key/upgrade.manifest*
cp -p other-key/* product/
"$SIGN" other-key --version 5 --key "$OUT/other.pem" >/dev/null
"$SIGN" product --version 5 --product Quotiva-Lite >/dev/null

# Manifests the tool will not write, signed the way the tool signs.
mkdir malformed
hash=$(sha256sum good/QVX.exe | cut -d' ' -f1)
size=$(stat -c %s good/QVX.exe)
{
  printf 'quotiva-upgrade-manifest 1\nproduct Quotiva\nversion 5\n'
  printf 'file %s %s QVX.exe\nfile %s %s qvx.EXE\n' "$size" "$hash" "$size" "$hash"
} >malformed/one-file-twice.manifest
printf 'quotiva-upgrade-manifest 1\nproduct Quotiva\nversion 5\n' >malformed/no-file.manifest
printf 'quotiva-upgrade-manifest 2\nproduct Quotiva\nversion 5\nfile %s %s QVX.exe\n' "$size" "$hash" \
  >malformed/format-2.manifest
printf 'quotiva-upgrade-manifest 1\nproduct Quotiva\nversion 5\nfile %s %s NUL.txt\n' "$size" "$hash" \
  >malformed/device.manifest
# Over the bound by less than a line, every line of it well formed.
/usr/bin/python3 - "$hash" <<'EOF'
import sys
text = b"quotiva-upgrade-manifest 1\nproduct Quotiva\nversion 5\n"
n = 0
while len(text) <= 1024 * 1024:
    text += b"file 1 %s f%07d.dat\n" % (sys.argv[1].encode(), n)
    n += 1
open("malformed/over-1-MiB.manifest", "wb").write(text)
EOF
for m in malformed/*.manifest; do
  openssl dgst -sha256 -sign "$DEMO_KEY" -out "${m%.manifest}.sig" "$m"
done

# The names table: the tool's verdict on every folder.
mkdir names
n=0
while IFS= read -r line; do
  case $line in '#'* | '') continue ;; esac
  n=$((n + 1))
  IFS=$'\t' read -r -a fields <<<"$line"
  mkdir "names/$n"
  for name in "${fields[@]:1}"; do
    printf 'x' >"names/$n/$(printf '%b' "$name")"
  done
  if "$SIGN" "names/$n" >"names/$n.log" 2>&1; then
    echo "$n ok" >>names/verdicts.txt
  else
    echo "$n refused" >>names/verdicts.txt
  fi
done <"$HERE/manifest_names.txt"
echo "signed folders in $OUT"
