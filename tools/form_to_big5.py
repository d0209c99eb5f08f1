#!/usr/bin/python3
"""Converts a form resource kept in the repository as UTF-8 into the bytes the
program stores: the same text in code page 950 (Big5), so the window's
Chinese texts reach the program as Big5 bytes.

Usage: form_to_big5.py SOURCE.form OUTPUT
"""
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, output = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    try:
        data = text.encode("cp950")
    except UnicodeEncodeError as e:
        line = text.count("\n", 0, e.start) + 1
        sys.exit(f"{source}:{line}: character {text[e.start]!r} has no Big5 form")
    with open(output, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
