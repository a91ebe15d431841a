#include "inflate.h"

#include <array>
#include <cstring>
#include <utility>

namespace kestrave {
namespace {

constexpr int kMaxBits = 15;
// Far above anything the program carries; keeps a damaged length from asking for gigabytes.
constexpr std::size_t kLargestUnpacked = 64u << 20;

// The stream's bits, least significant first. Every step of the decoder takes at most 28 bits
// between two refills, so the bits are kept in one 32-bit word (the shipped program is 32-bit)
// and refilled a byte at a time.
class Bits {
  public:
    Bits(const std::uint8_t* bytes, std::size_t size) : at_(bytes), end_(bytes + size) {}

    // At least 25 bits in hand afterwards. Past the end of the stream zeros stand in, and a
    // stream read that far is damaged: Failed() says so once a zero byte has been taken.
    void Fill() {
        while (held_ <= 24) {
            std::uint32_t byte = 0;
            if (at_ != end_)
                byte = *at_++;
            else
                ++padding_;
            buffer_ |= byte << held_;
            held_ += 8;
        }
    }
    // The next `count` (at most 25) bits without taking them.
    std::uint32_t Peek(int count) const { return buffer_ & ((std::uint32_t{1} << count) - 1); }
    void Drop(int count) {
        buffer_ >>= count;
        held_ -= count;
    }
    std::uint32_t Take(int count) {
        const std::uint32_t value = Peek(count);
        Drop(count);
        return value;
    }
    void AlignToByte() { Drop(held_ % 8); }
    bool Failed() const { return held_ < padding_ * 8; }

  private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
    std::uint32_t buffer_ = 0;
    int held_ = 0;
    int padding_ = 0;  // zero bytes put in past the end
};

// Codes up to this long are decoded by one table look-up, longer ones bit by bit: most symbols
// of a picture's stream have short codes, and decoding is most of the time a picture takes.
constexpr int kFastBits = 10;

// A canonical Huffman code: how many codes each length has, and the symbols in code order;
// and for the next kFastBits bits of the stream, the symbol and length of a short code there
// (symbol << 4 | length; 0 where a longer code starts).
struct Code {
    std::array<std::uint16_t, kMaxBits + 1> counts{};
    std::array<std::uint16_t, 320> symbols{};
    std::array<std::uint16_t, 1 << kFastBits> fast{};
};

// False when the lengths over-subscribe the code (an incomplete code is allowed, as for a
// single distance code).
bool Build(Code& code, const std::uint8_t* lengths, int count) {
    code.counts.fill(0);
    for (int i = 0; i < count; ++i)
        ++code.counts[lengths[i]];
    code.counts[0] = 0;
    int left = 1;
    for (int length = 1; length <= kMaxBits; ++length) {
        left = (left << 1) - code.counts[length];
        if (left < 0)
            return false;
    }
    std::array<std::uint16_t, kMaxBits + 2> offsets{};
    for (int length = 1; length <= kMaxBits; ++length)
        offsets[length + 1] = offsets[length] + code.counts[length];
    for (int i = 0; i < count; ++i) {
        if (lengths[i] != 0)
            code.symbols[offsets[lengths[i]]++] = static_cast<std::uint16_t>(i);
    }
    // Each symbol's code in turn, as the canonical order gives them; the stream sends a code's
    // first bit first, so the table is indexed by the code's bits reversed.
    code.fast.fill(0);
    std::array<int, kMaxBits + 1> next{};
    int value = 0;
    for (int length = 1; length <= kMaxBits; ++length) {
        value = (value + code.counts[length - 1]) << 1;
        next[length] = value;
    }
    for (int i = 0; i < count; ++i) {
        const int length = lengths[i];
        if (length == 0)
            continue;
        const int assigned = next[length]++;
        if (length > kFastBits)
            continue;
        int reversed = 0;
        for (int bit = 0; bit < length; ++bit)
            reversed |= ((assigned >> bit) & 1) << (length - 1 - bit);
        const auto entry = static_cast<std::uint16_t>(i << 4 | length);
        for (int slot = reversed; slot < (1 << kFastBits); slot += 1 << length)
            code.fast[slot] = entry;
    }
    return true;
}

// The next symbol, or -1 for a code the table does not have. Needs 15 bits in hand.
int Decode(Bits& bits, const Code& code) {
    if (const std::uint16_t entry = code.fast[bits.Peek(kFastBits)]; entry != 0) {
        bits.Drop(entry & 15);
        return entry >> 4;
    }
    const std::uint32_t ahead = bits.Peek(kMaxBits);
    int value = 0;
    int first = 0;
    int index = 0;
    for (int length = 1; length <= kMaxBits; ++length) {
        value |= static_cast<int>((ahead >> (length - 1)) & 1);
        const int count = code.counts[length];
        if (value - first < count) {
            bits.Drop(length);
            return code.symbols[index + value - first];
        }
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;
}

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                           15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Where the unpacked bytes go: `at` of `size` written so far.
struct Output {
    std::uint8_t* bytes;
    std::size_t at;
    std::size_t size;
};

bool InflateCodes(Bits& bits, const Code& literals, const Code& distances, Output& out) {
    std::uint8_t* const bytes = out.bytes;
    std::size_t at = out.at;
    const std::size_t size = out.size;
    for (;;) {
        bits.Fill();
        const int symbol = Decode(bits, literals);
        if (symbol < 256) {
            // A padding byte decodes like any other: a stream that ran out fails here at the
            // latest, before it can fill the output with made-up bytes.
            if (symbol < 0 || at == size || bits.Failed())
                return false;
            bytes[at++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        if (symbol == 256) {
            out.at = at;
            return true;
        }
        const int lengthIndex = symbol - 257;
        if (lengthIndex >= 29)
            return false;
        const std::size_t length = kLengthBase[lengthIndex] + bits.Take(kLengthExtra[lengthIndex]);
        bits.Fill();
        const int distanceIndex = Decode(bits, distances);
        if (distanceIndex < 0 || distanceIndex >= 30)
            return false;
        bits.Fill();
        const std::size_t distance =
            kDistanceBase[distanceIndex] + bits.Take(kDistanceExtra[distanceIndex]);
        if (bits.Failed() || distance > at || length > size - at)
            return false;
        const std::uint8_t* from = bytes + at - distance;
        std::uint8_t* to = bytes + at;
        if (distance >= length) {
            std::memcpy(to, from, length);
        } else {
            // An overlapping copy repeats the last `distance` bytes, byte by byte as written.
            for (std::size_t i = 0; i < length; ++i)
                to[i] = from[i];
        }
        at += length;
    }
}

bool InflateStored(Bits& bits, Output& out) {
    bits.AlignToByte();
    bits.Fill();
    const std::uint32_t length = bits.Take(16);
    bits.Fill();
    const std::uint32_t check = bits.Take(16);
    if (bits.Failed() || (length ^ 0xFFFF) != check || length > out.size - out.at)
        return false;
    for (std::uint32_t i = 0; i < length; ++i) {
        bits.Fill();
        out.bytes[out.at++] = static_cast<std::uint8_t>(bits.Take(8));
    }
    return !bits.Failed();
}

bool InflateFixed(Bits& bits, Output& out) {
    static const auto codes = [] {
        std::array<std::uint8_t, 288> lengths{};
        for (int i = 0; i < 288; ++i)
            lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        std::array<std::uint8_t, 30> distanceLengths{};
        distanceLengths.fill(5);
        std::pair<Code, Code> built;
        Build(built.first, lengths.data(), 288);
        Build(built.second, distanceLengths.data(), 30);
        return built;
    }();
    return InflateCodes(bits, codes.first, codes.second, out);
}

bool InflateDynamic(Bits& bits, Output& out) {
    constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};
    bits.Fill();
    const int literalCount = static_cast<int>(bits.Take(5)) + 257;
    const int distanceCount = static_cast<int>(bits.Take(5)) + 1;
    const int lengthCount = static_cast<int>(bits.Take(4)) + 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;
    std::array<std::uint8_t, 19> codeLengths{};
    for (int i = 0; i < lengthCount; ++i) {
        bits.Fill();
        codeLengths[kOrder[i]] = static_cast<std::uint8_t>(bits.Take(3));
    }
    Code lengthCode;
    if (bits.Failed() || !Build(lengthCode, codeLengths.data(), 19))
        return false;
    std::array<std::uint8_t, 316> lengths{};
    int index = 0;
    while (index < literalCount + distanceCount) {
        bits.Fill();
        const int symbol = Decode(bits, lengthCode);
        if (symbol < 0 || bits.Failed())
            return false;
        if (symbol < 16) {
            lengths[index++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t repeated = 0;
        int times = 0;
        if (symbol == 16) {
            if (index == 0)
                return false;
            repeated = lengths[index - 1];
            times = 3 + static_cast<int>(bits.Take(2));
        } else if (symbol == 17) {
            times = 3 + static_cast<int>(bits.Take(3));
        } else {
            times = 11 + static_cast<int>(bits.Take(7));
        }
        if (index + times > literalCount + distanceCount)
            return false;
        while (times-- > 0)
            lengths[index++] = repeated;
    }
    if (lengths[256] == 0)
        return false;  // no end-of-block code
    Code literals;
    Code distances;
    if (!Build(literals, lengths.data(), literalCount) ||
        !Build(distances, lengths.data() + literalCount, distanceCount))
        return false;
    return InflateCodes(bits, literals, distances, out);
}

}  // namespace

std::vector<std::uint8_t> Inflate(const std::uint8_t* packed, std::size_t packedSize,
                                  std::size_t size) {
    if (size > kLargestUnpacked)
        return {};
    std::vector<std::uint8_t> bytes(size);
    Output out{bytes.data(), 0, size};
    Bits bits(packed, packedSize);
    bool last = false;
    while (!last) {
        bits.Fill();
        last = bits.Take(1) != 0;
        const std::uint32_t type = bits.Take(2);
        bool whole = false;
        if (type == 0)
            whole = InflateStored(bits, out);
        else if (type == 1)
            whole = InflateFixed(bits, out);
        else if (type == 2)
            whole = InflateDynamic(bits, out);
        if (!whole || bits.Failed())
            return {};
    }
    if (out.at != size)
        return {};
    return bytes;
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t size, std::uint32_t previous) {
    // Eight bytes a step (the "slicing" tables): the checks run over every pixel the program
    // shows, where one byte a step costs a third as much as unpacking them.
    static const auto tables = [] {
        std::array<std::array<std::uint32_t, 256>, 8> built{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            built[0][n] = c;
        }
        for (std::uint32_t n = 0; n < 256; ++n) {
            for (int t = 1; t < 8; ++t)
                built[t][n] = (built[t - 1][n] >> 8) ^ built[0][built[t - 1][n] & 0xFF];
        }
        return built;
    }();
    auto word = [bytes](std::size_t at) {
        return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
               std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
    };
    std::uint32_t crc = ~previous;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint32_t low = crc ^ word(i);
        const std::uint32_t high = word(i + 4);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][high & 0xFF] ^ tables[2][(high >> 8) & 0xFF] ^
              tables[1][(high >> 16) & 0xFF] ^ tables[0][high >> 24];
    }
    for (; i < size; ++i)
        crc = tables[0][(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::vector<std::uint8_t> InflateChecked(const void* packed, std::size_t packedSize) {
    std::uint32_t header[2] = {};
    if (packedSize <= sizeof header)
        return {};
    std::memcpy(header, packed, sizeof header);
    const auto* stream = static_cast<const std::uint8_t*>(packed) + sizeof header;
    std::vector<std::uint8_t> bytes = Inflate(stream, packedSize - sizeof header, header[0]);
    if (bytes.empty() || Crc32(bytes.data(), bytes.size()) != header[1])
        return {};
    return bytes;
}

}  // namespace kestrave
