// Unpacking a raw deflate stream (RFC 1951): the larger pictures are carried deflated, which
// packs them to less than half of what the system's own LZNT1 can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrave {

// The bytes `packed` unpacks to, when that is exactly `size` bytes; empty when the stream is
// damaged, ends early or unpacks to another size.
std::vector<std::uint8_t> Inflate(const std::uint8_t* packed, std::size_t packedSize,
                                  std::size_t size);

// The CRC-32 of `bytes` (the one of zlib and PNG).
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t size);

}  // namespace kestrave
