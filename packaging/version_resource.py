#!/usr/bin/python3
"""Prints the version resource of a Windows program, one "Name=value" per line.

    version_resource.py PROGRAM.EXE

The numbers of the fixed part come first, as FixedFileVersion and
FixedProductVersion ("1.0.0.0"), then every string of the string tables.
Exits 1 when the program has no version resource.
"""
import sys

import pefile


def main():
    pe = pefile.PE(sys.argv[1], fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        print("%s: no version resource" % sys.argv[1], file=sys.stderr)
        return 1
    fixed = pe.VS_FIXEDFILEINFO[0]

    def quad(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    print("FixedFileVersion=" + quad(fixed.FileVersionMS, fixed.FileVersionLS))
    print("FixedProductVersion=" + quad(fixed.ProductVersionMS, fixed.ProductVersionLS))
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            for name, value in table.entries.items():
                print("%s=%s" % (name.decode(), value.decode()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
