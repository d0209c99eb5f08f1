#!/usr/bin/env python3
"""Builds an STR0 message table from a text file.

Input: UTF-8 text, one entry a line: a decimal id (signed 32-bit), a tab, the
text up to the end of the line (trailing blanks are part of it). Empty lines
and lines starting with '#' are ignored.

Output (little-endian): "STR0", entry count N, N records of (id, byte offset
of the text from the start of the table, length in UTF-16 code units), then
the texts in UTF-16LE back to back in entry order. Entries are sorted by
signed id, which the reader's binary search relies on.

Duplicate ids, malformed lines and texts that are not valid UTF-8 stop the
build with a message naming the file and line.
"""
import struct
import sys


class TableError(Exception):
    pass


def parse(path):
    entries = {}
    with open(path, 'rb') as f:
        raw_lines = f.read().split(b'\n')
    for number, raw in enumerate(raw_lines, 1):
        if raw.endswith(b'\r'):
            raw = raw[:-1]
        if not raw or raw.startswith(b'#'):
            continue
        where = f'{path}:{number}'
        try:
            line = raw.decode('utf-8', errors='strict')
        except UnicodeDecodeError as e:
            raise TableError(f'{where}: text is not valid UTF-8 ({e.reason} at byte {e.start})')
        if '\t' not in line:
            raise TableError(f'{where}: expected "<id><TAB><text>"')
        id_text, text = line.split('\t', 1)
        try:
            ident = int(id_text, 10)
        except ValueError:
            raise TableError(f'{where}: id "{id_text}" is not a decimal number')
        if not -2**31 <= ident < 2**31:
            raise TableError(f'{where}: id {ident} does not fit a signed 32-bit number')
        if ident in entries:
            raise TableError(f'{where}: duplicate id {ident} (first on line {entries[ident][1]})')
        try:
            encoded = text.encode('utf-16-le', errors='strict')
        except UnicodeEncodeError as e:
            raise TableError(f'{where}: text cannot be encoded as UTF-16 ({e.reason})')
        entries[ident] = (encoded, number)
    return entries


def build(entries):
    ids = sorted(entries)
    offset = 8 + 12 * len(ids)
    header = bytearray(b'STR0' + struct.pack('<I', len(ids)))
    texts = bytearray()
    for ident in ids:
        encoded = entries[ident][0]
        header += struct.pack('<iII', ident, offset + len(texts), len(encoded) // 2)
        texts += encoded
    return bytes(header + texts)


def main(argv):
    if len(argv) != 3:
        print('usage: make_str0.py <input.txt> <output.bin>', file=sys.stderr)
        return 2
    try:
        table = build(parse(argv[1]))
    except (TableError, OSError) as e:
        print(f'make_str0: error: {e}', file=sys.stderr)
        return 1
    with open(argv[2], 'wb') as f:
        f.write(table)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
