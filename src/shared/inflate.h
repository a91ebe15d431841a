// Unpacking a raw deflate stream (RFC 1951): everything large the program carries (its
// pictures and its registration hosts) is deflated, which packs it to about half of what the
// system's own LZNT1 can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrave {

// The bytes `packed` unpacks to, when that is exactly `size` bytes; empty when the stream is
// damaged, ends early or unpacks to another size.
std::vector<std::uint8_t> Inflate(const std::uint8_t* packed, std::size_t packedSize,
                                  std::size_t size);

// The CRC-32 of `bytes` (the one of zlib and PNG); `previous` is the CRC of the bytes before
// them, so that a long run can be summed in parts.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t size, std::uint32_t previous = 0);

// A carried file: its length and CRC-32 (32-bit little-endian each), then its raw deflate
// stream (see resources/deflate.py). Its bytes; empty when they do not unpack whole or do
// not match their CRC.
std::vector<std::uint8_t> InflateChecked(const void* packed, std::size_t packedSize);

}  // namespace kestrave
