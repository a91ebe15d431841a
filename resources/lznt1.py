#!/usr/bin/env python3
"""LZNT1, the compression Windows unpacks itself (RtlDecompressBuffer), for what the program
carries packed: its pictures (draw_pictures.py) and its 64-bit registration host (the build).

    lznt1.py INPUT OUTPUT

writes OUTPUT as the unpacked length (32 bits, little-endian) followed by the LZNT1 data, and
checks that it unpacks to INPUT again.
"""
import struct
import sys

# The format: 4096-byte chunks, each behind a 16-bit header (bit 15 set when
# compressed, 0x3000 signature, low 12 bits the chunk's stored length - 1).
# A compressed chunk is groups of a flag byte and eight items: a literal byte
# (flag bit 0) or a 16-bit back reference (flag bit 1) whose split between
# displacement and length depends on how far into the chunk it stands.
LZNT1_CHUNK = 4096


def lznt1_split(position):
    """Bits of displacement in a back reference at this chunk position."""
    bits = 12
    while bits > 4 and (1 << (bits - 1)) >= position:
        bits -= 1
    return bits


def lznt1_chunk(data):
    n = len(data)
    out = bytearray()
    seen = {}
    pos = 0
    flag_at, bit = 0, 8
    while pos < n:
        if bit == 8:
            flag_at, bit = len(out), 0
            out.append(0)
        split = lznt1_split(pos)
        max_back = 1 << split
        max_len = min((1 << (16 - split)) + 2, n - pos)
        best_len, best_back = 0, 0
        for c in reversed(seen.get(data[pos:pos + 3], [])[-64:]):
            back = pos - c
            if back > max_back:
                break
            length = 0
            while length < max_len and data[c + length] == data[pos + length]:
                length += 1
            if length > best_len:
                best_len, best_back = length, back
                if length == max_len:
                    break
        if best_len >= 3:
            out += struct.pack("<H", ((best_back - 1) << (16 - split)) | (best_len - 3))
            out[flag_at] |= 1 << bit
            step = best_len
        else:
            out.append(data[pos])
            step = 1
        for p in range(pos, min(pos + step, n - 2)):
            seen.setdefault(data[p:p + 3], []).append(p)
        pos += step
        bit += 1
    return bytes(out)


def lznt1_compress(data):
    out = bytearray()
    for start in range(0, len(data), LZNT1_CHUNK):
        raw = data[start:start + LZNT1_CHUNK]
        packed = lznt1_chunk(raw)
        if len(packed) < len(raw):
            out += struct.pack("<H", 0xB000 | (len(packed) - 1)) + packed
        else:
            out += struct.pack("<H", 0x3000 | (len(raw) - 1)) + raw
    return bytes(out)


def lznt1_decompress(src):
    """Only to check the compressor: the program uses the system's."""
    out = bytearray()
    i = 0
    while i + 2 <= len(src):
        head = struct.unpack_from("<H", src, i)[0]
        i += 2
        chunk = src[i:i + (head & 0xFFF) + 1]
        i += len(chunk)
        if not head & 0x8000:
            out += chunk
            continue
        start, j = len(out), 0
        while j < len(chunk):
            flags = chunk[j]
            j += 1
            for b in range(8):
                if j >= len(chunk):
                    break
                if flags >> b & 1:
                    code = struct.unpack_from("<H", chunk, j)[0]
                    j += 2
                    split = lznt1_split(len(out) - start)
                    back = (code >> (16 - split)) + 1
                    for _ in range((code & ((1 << (16 - split)) - 1)) + 3):
                        out.append(out[-back])
                else:
                    out.append(chunk[j])
                    j += 1
    return bytes(out)



def pack(data):
    packed = struct.pack("<I", len(data)) + lznt1_compress(data)
    assert lznt1_decompress(packed[4:]) == data
    return packed


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as source:
        data = source.read()
    with open(sys.argv[2], "wb") as target:
        target.write(pack(data))
