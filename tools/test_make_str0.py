#!/usr/bin/env python3
"""Checks the STR0 generator: layout, ordering and refusals."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'make_str0.py')


def run(content):
    with tempfile.TemporaryDirectory() as d:
        src = os.path.join(d, 'in.txt')
        out = os.path.join(d, 'out.bin')
        with open(src, 'wb') as f:
            f.write(content)
        r = subprocess.run([sys.executable, TOOL, src, out], capture_output=True, text=True)
        data = open(out, 'rb').read() if os.path.exists(out) else None
        return r.returncode, r.stderr, data


class MakeStr0Test(unittest.TestCase):
    def test_layout_is_sorted_by_signed_id_with_texts_in_entry_order(self):
        code, err, data = run('# comment\n5\tfive\n-3\tminus\n4600\t\n100\tA\u00e9\n'.encode())
        self.assertEqual(code, 0, err)
        self.assertEqual(data[:4], b'STR0')
        (count,) = struct.unpack_from('<I', data, 4)
        self.assertEqual(count, 4)
        records = [struct.unpack_from('<iII', data, 8 + 12 * i) for i in range(count)]
        self.assertEqual([r[0] for r in records], [-3, 5, 100, 4600])
        offset = 8 + 12 * count
        for (ident, off, length), text in zip(records, ['minus', 'five', 'A\u00e9', '']):
            self.assertEqual(off, offset)
            self.assertEqual(data[off:off + 2 * length].decode('utf-16-le'), text)
            offset += 2 * length
        self.assertEqual(offset, len(data))  # the last text ends the table

    def test_trailing_blanks_belong_to_the_text(self):
        code, err, data = run(b'15601\tDCTS \r\n')
        self.assertEqual(code, 0, err)
        self.assertEqual(data[20:].decode('utf-16-le'), 'DCTS ')

    def test_refusals_name_the_line(self):
        cases = [
            (b'1\ta\n2\tb\n1\tc\n', 'in.txt:3: duplicate id 1 (first on line 1)'),
            (b'1\t\xff\xfe\n', 'in.txt:1: text is not valid UTF-8'),
            (b'x\ttext\n', 'in.txt:1: id "x" is not a decimal number'),
            (b'no tab here\n', 'in.txt:1: expected'),
            (b'4294967296\tbig\n', 'does not fit a signed 32-bit number'),
        ]
        for content, message in cases:
            code, err, data = run(content)
            self.assertEqual(code, 1, content)
            self.assertIn(message, err)
            self.assertIsNone(data)


if __name__ == '__main__':
    unittest.main()
