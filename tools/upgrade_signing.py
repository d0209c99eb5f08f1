#!/usr/bin/python3
"""The publisher's side of signed upgrades.

  upgrade_signing.py sign FOLDER [--key PRIVATE.pem] [--version N] [--product NAME]
      Writes FOLDER/upgrade.manifest (every regular file at the top of the
      folder but the two manifest files: size, SHA-256, name) and
      FOLDER/upgrade.manifest.sig (ECDSA P-256 over the SHA-256 of the
      manifest, DER, made by `openssl dgst -sha256 -sign`). The version is
      one more than the folder's current manifest's, or 1. Refuses, writing
      nothing, names that the program refuses (see ManifestNameProblem and
      ParseManifest in app/upgrade_manifest.h: the two sides keep the same
      rules).

  upgrade_signing.py raw-key PUBLIC.pem OUTPUT
      Writes the 64 bytes X || Y of a P-256 public key in PEM form: the
      program's built-in key (resource UPGRADEKEY).

scripts/sign-upgrade runs the first with the demo key by default.
"""
import argparse
import base64
import hashlib
import os
import re
import stat
import subprocess
import sys
import tempfile

FORMAT_LINE = b"quotiva-upgrade-manifest 1"
MANIFEST = b"upgrade.manifest"
SIGNATURE = b"upgrade.manifest.sig"
MAX_NUMBER = 2**63 - 1
MAX_MANIFEST = 1024 * 1024


class Refused(Exception):
    pass


# ---- names: the program's rules (app/upgrade_manifest.cpp) -----------------

def is_lead(c):
    return 0x81 <= c <= 0xFE


def is_trail(c):
    return 0x40 <= c <= 0x7E or 0xA1 <= c <= 0xFE


def windows_file_key(name):
    """The name as Windows compares names (WindowsNameKey with the system's
    fold): trailing dots and blanks dropped, every letter of the name's
    code page 950 text folded to its capital."""
    text = name.rstrip(b". ").decode("cp950", errors="surrogateescape")
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in text).encode("utf-8", "surrogateescape")


DEVICES = {b"CON", b"PRN", b"AUX", b"NUL", b"CONIN$", b"CONOUT$"}


def names_device(name):
    """Whether a part (split at every "\\" and "/" byte) names a device."""
    for part in re.split(rb"[\\/]", name):
        stem = part.split(b".")[0].rstrip(b" ")
        upper = bytes(c - 32 if ord("a") <= c <= ord("z") else c for c in stem)
        if upper in DEVICES:
            return True
        if len(upper) == 4 and upper[:3] in (b"COM", b"LPT") and 0x30 <= upper[3] <= 0x39:
            return True
    return False


def leaves_folder(name):
    """What a listing leaves out besides devices: rooted, colons, ".."."""
    if name in (b".", b"..") or name[:1] in (b"\\", b"/") or b":" in name:
        return True
    return any(part == b".." for part in re.split(rb"[\\/]", name))


def name_problem(name):
    """Why the program refuses the name, or None (ManifestNameProblem)."""
    if not name:
        return "no file name"
    if name[:1] in (b" ", b"\t"):
        return "a blank at the start of the name"
    if name[-1:] in (b" ", b"\t"):
        return "a blank at the end of the name"
    if name.endswith(b"."):
        return "a dot at the end of the name"
    i = 0
    while i < len(name):
        c = name[i]
        if c == 0:
            return "a zero byte in the name"
        if c < 0x20 or c == 0x7F:
            return "a control character in the name"
        if c == ord(":"):
            return "a drive or stream colon in the name"
        if c in (ord("\\"), ord("/")):
            return "a folder in the name"
        if c in b'<>"|?*':
            return "a character that Windows refuses in a file name"
        if c >= 0x80:
            if not is_lead(c) or i + 1 >= len(name) or not is_trail(name[i + 1]):
                return "bytes that are no text of code page 950 in the name"
            i += 1
        i += 1
    if names_device(name):
        return "a name that Windows takes for a device"
    if leaves_folder(name):
        return "a name that a listing of the folder leaves out"
    if re.fullmatch(rb"~qv[0-9a-fA-F]{4}\.tmp", name, re.IGNORECASE):
        return "a name of the program's temporary files"
    if name.upper() in (MANIFEST.upper(), SIGNATURE.upper()):
        return "the name of a manifest file"
    return None


def shown(name):
    """A name for messages: Big5 as text where it decodes, else escaped."""
    try:
        text = name.decode("cp950")
    except UnicodeDecodeError:
        return name.decode("latin-1").encode("unicode_escape").decode("ascii")
    return "".join(c if c.isprintable() else "\\x%02x" % ord(c) for c in text)


# ---- signing ----------------------------------------------------------------

def current_version(folder):
    """The version of the folder's manifest: 0 when there is none, None when
    it has none this tool reads."""
    path = os.path.join(os.fsencode(folder), MANIFEST)
    try:
        with open(path, "rb") as f:
            lines = f.read(MAX_MANIFEST + 1).split(b"\n")
    except FileNotFoundError:
        return 0
    if len(lines) >= 3:
        m = re.fullmatch(rb"version ([1-9][0-9]{0,18})\r?", lines[2])
        if lines[0].rstrip(b"\r") == FORMAT_LINE and m and int(m.group(1)) <= MAX_NUMBER:
            return int(m.group(1))
    return None


def sha256_of(path):
    h = hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                break
            h.update(block)
            size += len(block)
    return size, h.hexdigest()


def folder_files(folder):
    """The regular files at the top of the folder (links followed), sorted."""
    names = []
    for name in sorted(os.listdir(os.fsencode(folder))):
        if name in (MANIFEST, SIGNATURE):
            continue
        try:
            mode = os.stat(os.path.join(os.fsencode(folder), name)).st_mode
        except OSError:
            mode = 0
        if stat.S_ISREG(mode):
            names.append(name)
        else:
            print("left out (not a regular file): %s" % shown(name), file=sys.stderr)
    return names


def write_atomically(path, data):
    folder = os.path.dirname(path) or b"."
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=b".sign-upgrade-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def openssl(*args, data=None):
    done = subprocess.run(["openssl", *args], input=data, capture_output=True)
    if done.returncode != 0:
        raise Refused("openssl %s failed: %s" % (args[0], done.stderr.decode(errors="replace").strip()))
    return done.stdout


def sign(folder, key, version, product):
    if not os.path.isdir(folder):
        raise Refused("%s is not a folder" % folder)
    if not os.path.isfile(key):
        raise Refused("no private key at %s" % key)
    if not re.fullmatch(r"[\x21-\x7e]([\x20-\x7e]*[\x21-\x7e])?", product):
        raise Refused("the product must be printable ASCII without blanks at either end")
    current = current_version(folder)
    if version is None:
        if current is None:
            raise Refused("the folder's upgrade.manifest has no version this tool reads; give --version")
        version = current + 1
    current = current or 0
    if not 1 <= version <= MAX_NUMBER:
        raise Refused("the version must lie between 1 and 2^63-1")
    if version < current:
        raise Refused("version %d is lower than the folder's current %d: the program refuses older "
                      "versions than it has installed" % (version, current))

    names = folder_files(folder)
    problems = []
    seen = {}
    for name in names:
        problem = name_problem(name)
        if problem:
            problems.append("%s: %s" % (shown(name), problem))
            continue
        key_of_name = windows_file_key(name)
        if key_of_name in seen:
            problems.append("%s and %s are one file on Windows" % (shown(seen[key_of_name]), shown(name)))
        seen.setdefault(key_of_name, name)
    if problems:
        raise Refused("names the program refuses:\n  " + "\n  ".join(problems))
    if not names:
        raise Refused("no file to sign in %s" % folder)

    lines = [FORMAT_LINE, b"product " + product.encode("ascii"), b"version %d" % version]
    fbytes = os.fsencode(folder)
    listed = []
    for name in names:
        size, digest = sha256_of(os.path.join(fbytes, name))
        lines.append(b"file %d %s %s" % (size, digest.encode("ascii"), name))
        listed.append((name, size))
    manifest = b"\n".join(lines) + b"\n"
    if len(manifest) > MAX_MANIFEST:
        raise Refused("the manifest would have %d bytes, more than %d" % (len(manifest), MAX_MANIFEST))

    try:
        curve = openssl("pkey", "-in", key, "-noout", "-text")
    except Refused:
        raise Refused("%s is no private key that openssl reads" % key)
    if b"prime256v1" not in curve and b"P-256" not in curve:
        raise Refused("%s is not a P-256 key" % key)
    with tempfile.TemporaryDirectory() as work:
        manifest_path = os.path.join(work, "manifest")
        with open(manifest_path, "wb") as f:
            f.write(manifest)
        signature = openssl("dgst", "-sha256", "-sign", key, manifest_path)
        # The signature must verify under the key's public half before it
        # is published: a wrong key file fails here, not at every user.
        public = os.path.join(work, "public.pem")
        openssl("pkey", "-in", key, "-pubout", "-out", public)
        signature_path = os.path.join(work, "signature")
        with open(signature_path, "wb") as f:
            f.write(signature)
        openssl("dgst", "-sha256", "-verify", public, "-signature", signature_path, manifest_path)

    # The manifest first: until the signature follows, a program that
    # fetches the pair finds them not matching and installs nothing.
    write_atomically(os.path.join(fbytes, MANIFEST), manifest)
    write_atomically(os.path.join(fbytes, SIGNATURE), signature)
    print("%s: product %s, version %d, %d file(s)" % (os.path.join(folder, "upgrade.manifest"), product,
                                                     version, len(listed)))
    for name, size in listed:
        print("  %12d  %s" % (size, shown(name)))
    print("%s: %d bytes" % (os.path.join(folder, "upgrade.manifest.sig"), len(signature)))


# ---- the built-in key -----------------------------------------------------------

P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
P256_P = 2**256 - 2**224 + 2**192 + 2**96 - 1
P256_B = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B


def raw_public_key(pem_text):
    """X || Y of a P-256 public key in PEM (SubjectPublicKeyInfo) form."""
    if "PRIVATE KEY" in pem_text:
        raise Refused("this is a private key; the program carries the public key: "
                      "openssl pkey -in KEY.pem -pubout -out KEY.pub.pem")
    m = re.search(r"-----BEGIN PUBLIC KEY-----\s*([A-Za-z0-9+/=\s]+?)\s*-----END PUBLIC KEY-----", pem_text)
    if not m:
        raise Refused("no PEM public key (-----BEGIN PUBLIC KEY-----) found")
    der = base64.b64decode("".join(m.group(1).split()), validate=True)
    if len(der) != len(P256_SPKI_PREFIX) + 65 or not der.startswith(P256_SPKI_PREFIX + b"\x04"):
        raise Refused("not an uncompressed P-256 (prime256v1) public key")
    raw = der[len(P256_SPKI_PREFIX) + 1:]
    x, y = int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big")
    if x >= P256_P or y >= P256_P or (y * y - (x ** 3 - 3 * x + P256_B)) % P256_P != 0:
        raise Refused("the key is not a point of the P-256 curve")
    return raw


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    s = commands.add_parser("sign")
    s.add_argument("folder")
    s.add_argument("--key", required=True)
    s.add_argument("--version", type=int)
    s.add_argument("--product", default="Quotiva")
    r = commands.add_parser("raw-key")
    r.add_argument("public_pem")
    r.add_argument("output")
    args = parser.parse_args()
    try:
        if args.command == "sign":
            sign(args.folder, args.key, args.version, args.product)
        else:
            with open(args.public_pem, encoding="ascii", errors="replace") as f:
                raw = raw_public_key(f.read())
            write_atomically(os.fsencode(args.output), raw)
    except Refused as e:
        print("%s: %s" % ("sign-upgrade" if args.command == "sign" else "raw-key", e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
