#!/usr/bin/python3
"""Reads what Windows shows of a program from its PE file, without Windows:
the version resource (the numbers of VS_FIXEDFILEINFO and the texts of its
string table) and the embedded application manifest, plus where the
certificate table of an Authenticode signature lies.

Usage: pe_resources.py version  PROGRAM   key=value lines:
                                           FixedFileVersion=1.0.0.0
                                           FixedProductVersion=1.0.0.0
                                           Translation=0409 04b0
                                           040904b0/CompanyName=...
       pe_resources.py manifest PROGRAM   the manifest's text
       pe_resources.py signature PROGRAM  "offset size" of the certificate
                                           table, or nothing when unsigned

Exits 1 with a message on standard error when the program has no such
resource, or when its bytes are not what the PE format allows (a reader
that guessed would let a broken resource pass).
"""
import struct
import sys

RT_VERSION = 16
RT_MANIFEST = 24
DIR_RESOURCE = 2
DIR_SECURITY = 4


class BadFile(Exception):
    pass


def unpack(fmt, data, offset):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise BadFile(f"{size} bytes at offset {offset} lie outside the file ({len(data)} bytes)")
    return struct.unpack_from(fmt, data, offset)


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise BadFile("no MZ header")
        (pe,) = unpack("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadFile("no PE signature")
        _machine, sections, _, _, _, optional_size, _ = unpack("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        (magic,) = unpack("<H", data, optional)
        if magic == 0x20B:  # PE32+
            directories_at = optional + 112
        elif magic == 0x10B:  # PE32
            directories_at = optional + 96
        else:
            raise BadFile(f"unknown optional header magic {magic:#x}")
        (count,) = unpack("<I", data, directories_at - 4)
        self.directories = [unpack("<II", data, directories_at + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _name, vsize, vaddr, rawsize, rawptr = unpack("<8sIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr, rawsize))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for vaddr, vsize, rawptr, rawsize in self.sections:
            if vaddr <= rva < vaddr + vsize:
                if rva - vaddr >= rawsize:
                    raise BadFile(f"RVA {rva:#x} lies in no bytes of the file")
                return rawptr + (rva - vaddr)
        raise BadFile(f"RVA {rva:#x} lies in no section")

    def resource(self, type_id, name_id=None):
        """The bytes of the first resource of the type (and id, if given)."""
        rva, size = self.directory(DIR_RESOURCE)
        if not rva:
            return None
        root = self.offset(rva)

        def entries(table):
            _, _, _, _, named, ids = unpack("<IIHHHH", self.data, table)
            for i in range(named + ids):
                name, target = unpack("<II", self.data, table + 16 + 8 * i)
                yield name, target

        def subdir(target):
            if not target & 0x80000000:
                raise BadFile("a resource directory entry points at data where a table belongs")
            return root + (target & 0x7FFFFFFF)

        for t, target in entries(root):
            if t != type_id:
                continue
            for n, target2 in entries(subdir(target)):
                if name_id is not None and n != name_id:
                    continue
                for _lang, target3 in entries(subdir(target2)):
                    if target3 & 0x80000000:
                        raise BadFile("a language entry points at a table")
                    data_rva, data_size, _, _ = unpack("<IIII", self.data, root + target3)
                    at = self.offset(data_rva)
                    if at + data_size > len(self.data):
                        raise BadFile("a resource runs past the end of the file")
                    return self.data[at:at + data_size]
        return None


def align4(n):
    return (n + 3) & ~3


def read_block(data, at, end):
    """One node of a version resource: (key, value bytes, value type,
    children start, node end)."""
    length, value_length, value_type = unpack("<HHH", data, at)
    if length < 6 or at + length > end:
        raise BadFile(f"a version block at {at} has the length {length}, beyond its parent")
    node_end = at + length
    key_at = at + 6
    key_end = key_at
    while True:
        if key_end + 2 > node_end:
            raise BadFile("a version block's key is not terminated")
        if data[key_end:key_end + 2] == b"\0\0":
            break
        key_end += 2
    key = data[key_at:key_end].decode("utf-16-le")
    value_at = align4(key_end + 2)
    # Texts count their length in characters, binary values in bytes.
    value_size = value_length * 2 if value_type == 1 else value_length
    if value_at + value_size > node_end:
        raise BadFile(f"the value of {key!r} runs past its block")
    value = data[value_at:value_at + value_size]
    children = align4(value_at + value_size)
    return key, value, value_type, min(children, node_end), node_end


def children(data, start, end):
    at = start
    while at + 6 <= end:
        key, value, value_type, child_start, node_end = read_block(data, at, end)
        yield key, value, value_type, child_start, node_end
        at = align4(node_end)


def version_info(data):
    out = []
    key, value, _, child_start, end = read_block(data, 0, len(data))
    if key != "VS_VERSION_INFO":
        raise BadFile(f"the version resource's root is {key!r}")
    if len(value) != 52:
        raise BadFile(f"VS_FIXEDFILEINFO has {len(value)} bytes, not 52")
    signature, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", value, 0)
    if signature != 0xFEEF04BD:
        raise BadFile(f"VS_FIXEDFILEINFO signature {signature:#x}")

    def quad(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    out.append(("FixedFileVersion", quad(fms, fls)))
    out.append(("FixedProductVersion", quad(pms, pls)))
    for k, _, _, start, node_end in children(data, child_start, end):
        if k == "StringFileInfo":
            for table, _, _, tstart, tend in children(data, start, node_end):
                for name, text, _, _, _ in children(data, tstart, tend):
                    out.append((f"{table.lower()}/{name}", text.decode("utf-16-le").rstrip("\0")))
        elif k == "VarFileInfo":
            for name, raw, _, _, _ in children(data, start, node_end):
                if name == "Translation":
                    pairs = [struct.unpack_from("<HH", raw, i) for i in range(0, len(raw) - 3, 4)]
                    out.append(("Translation", " ".join(f"{a:04x} {b:04x}" for a, b in pairs)))
    return out


def main(argv):
    if len(argv) != 3 or argv[1] not in ("version", "manifest", "signature"):
        print(__doc__, file=sys.stderr)
        return 2
    what, path = argv[1], argv[2]
    with open(path, "rb") as f:
        pe = PeFile(f.read())
    if what == "signature":
        offset, size = pe.directory(DIR_SECURITY)
        if offset:
            if offset + size > len(pe.data):
                raise BadFile("the certificate table runs past the end of the file")
            print(offset, size)
        return 0
    if what == "version":
        data = pe.resource(RT_VERSION, 1)
        if data is None:
            print(f"{path}: no version resource", file=sys.stderr)
            return 1
        for key, value in version_info(data):
            print(f"{key}={value}")
        return 0
    data = pe.resource(RT_MANIFEST, 1)
    if data is None:
        print(f"{path}: no application manifest", file=sys.stderr)
        return 1
    sys.stdout.write(data.decode("utf-8-sig"))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except BadFile as e:
        print(f"{sys.argv[2]}: {e}", file=sys.stderr)
        sys.exit(1)
