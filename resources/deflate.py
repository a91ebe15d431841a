#!/usr/bin/env python3
"""Packs a file the program carries (its registration hosts, in the build) the way it unpacks
them (src/shared/inflate.h, InflateChecked):

    deflate.py INPUT OUTPUT

writes OUTPUT as the unpacked length and the CRC-32 of INPUT (32-bit little-endian each),
followed by INPUT as a raw deflate stream, and checks that it unpacks to INPUT again.
"""
import struct
import sys
import zlib


def deflated(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    body = packer.compress(data) + packer.flush()
    assert zlib.decompress(body, -15) == data
    return struct.pack("<II", len(data), zlib.crc32(data)) + body


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    with open(sys.argv[2], "wb") as f:
        f.write(deflated(data))


if __name__ == "__main__":
    main()
