#!/usr/bin/env python3
"""Fills in (or with --check, only checks) the checksum of PE executables.

The checksum is the one Windows' CheckSumMappedFile computes: the file as
16-bit little-endian words, the checksum field itself left out, summed with
the carries folded back in, plus the file's length. Exit status: 0 when every
file carries its right checksum (afterwards), 1 when --check found a wrong
one, 2 when a file is not a PE image or cannot be read or written.
"""
import struct
import sys
from array import array


class NotPe(Exception):
    pass


def checksum_offset(data):
    """Offset of the checksum field in the optional header."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise NotPe("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 4 + 20
    # The field is at the same place in PE32 and PE32+ optional headers.
    if optional + 68 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        raise NotPe("no PE header")
    if struct.unpack_from("<H", data, optional)[0] not in (0x10B, 0x20B):
        raise NotPe("unknown optional header")
    return optional + 64


def compute(data, offset):
    words = array("H")
    words.frombytes(data[:offset] + b"\0\0\0\0" + data[offset + 4:] + b"\0" * (len(data) % 2))
    if sys.byteorder != "little":
        words.byteswap()
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main(argv):
    check_only = bool(argv) and argv[0] == "--check"
    files = argv[1:] if check_only else argv
    if not files:
        print("usage: pe_checksum.py [--check] FILE...", file=sys.stderr)
        return 2
    status = 0
    for name in files:
        try:
            with open(name, "rb") as f:
                data = f.read()
            offset = checksum_offset(data)
        except (OSError, NotPe) as e:
            print(f"{name}: {e}", file=sys.stderr)
            return 2
        stored = struct.unpack_from("<I", data, offset)[0]
        right = compute(data, offset)
        if stored == right:
            print(f"{name}: checksum 0x{right:08X}")
        elif check_only:
            print(f"{name}: checksum 0x{stored:08X}, should be 0x{right:08X}")
            status = 1
        else:
            try:
                with open(name, "r+b") as f:
                    f.seek(offset)
                    f.write(struct.pack("<I", right))
            except OSError as e:
                print(f"{name}: {e}", file=sys.stderr)
                return 2
            print(f"{name}: checksum 0x{right:08X} written (was 0x{stored:08X})")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
