#include "inflate.h"

#include <array>
#include <utility>

namespace kestrave {
namespace {

constexpr int kMaxBits = 15;

class Bits {
  public:
    Bits(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    // The next `count` (at most 16) bits, least significant first, without taking them; zeros
    // stand for bits past the end of the stream.
    std::uint32_t Peek(int count) {
        while (held_ < count && at_ < size_) {
            buffer_ |= static_cast<std::uint64_t>(bytes_[at_++]) << held_;
            held_ += 8;
        }
        return static_cast<std::uint32_t>(buffer_ & ((1u << count) - 1));
    }
    // Takes `count` bits; taking bits past the end of the stream marks the failure.
    void Drop(int count) {
        if (count > held_) {
            failed_ = true;
            buffer_ = 0;
            held_ = 0;
            return;
        }
        buffer_ >>= count;
        held_ -= count;
    }
    std::uint32_t Take(int count) {
        const std::uint32_t value = Peek(count);
        Drop(count);
        return failed_ ? 0 : value;
    }
    void AlignToByte() {
        buffer_ >>= held_ % 8;
        held_ -= held_ % 8;
    }
    bool Failed() const { return failed_; }

  private:
    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::uint64_t buffer_ = 0;
    int held_ = 0;
    bool failed_ = false;
};

// Codes up to this long are decoded by one table look-up, longer ones bit by bit: most symbols
// of a picture's stream have short codes, and decoding is most of the time a picture takes.
constexpr int kFastBits = 9;

// A canonical Huffman code: how many codes each length has, and the symbols in code order;
// and for the next kFastBits bits of the stream, the symbol and length of a short code there.
struct Code {
    std::array<std::uint16_t, kMaxBits + 1> counts{};
    std::array<std::uint16_t, 320> symbols{};
    std::array<std::uint16_t, 1 << kFastBits> fastSymbols{};
    std::array<std::uint8_t, 1 << kFastBits> fastLengths{};
};

// False when the lengths over-subscribe the code (an incomplete code is allowed, as for a
// single distance code).
bool Build(Code& code, const std::uint8_t* lengths, int count) {
    code.counts.fill(0);
    for (int i = 0; i < count; ++i)
        ++code.counts[lengths[i]];
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
    code.fastLengths.fill(0);
    std::array<int, kMaxBits + 1> next{};
    int value = 0;
    for (int length = 1; length <= kMaxBits; ++length) {
        value = (value + (length > 1 ? code.counts[length - 1] : 0)) << 1;
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
        for (int slot = reversed; slot < (1 << kFastBits); slot += 1 << length) {
            code.fastSymbols[slot] = static_cast<std::uint16_t>(i);
            code.fastLengths[slot] = static_cast<std::uint8_t>(length);
        }
    }
    return true;
}

// The next symbol, or -1 for a code the table does not have.
int Decode(Bits& bits, const Code& code) {
    const std::uint32_t ahead = bits.Peek(kFastBits);
    if (const int length = code.fastLengths[ahead]; length != 0) {
        bits.Drop(length);
        return bits.Failed() ? -1 : code.fastSymbols[ahead];
    }
    int value = 0;
    int first = 0;
    int index = 0;
    for (int length = 1; length <= kMaxBits; ++length) {
        value |= static_cast<int>(bits.Take(1));
        if (bits.Failed())
            return -1;
        const int count = code.counts[length];
        if (value - first < count)
            return code.symbols[index + value - first];
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

bool InflateCodes(Bits& bits, const Code& literals, const Code& distances,
                  std::vector<std::uint8_t>& out, std::size_t limit) {
    for (;;) {
        const int symbol = Decode(bits, literals);
        if (symbol < 0)
            return false;
        if (symbol < 256) {
            if (out.size() >= limit)
                return false;
            out.push_back(static_cast<std::uint8_t>(symbol));
            continue;
        }
        if (symbol == 256)
            return true;
        const int lengthIndex = symbol - 257;
        if (lengthIndex >= 29)
            return false;
        const std::size_t length = kLengthBase[lengthIndex] + bits.Take(kLengthExtra[lengthIndex]);
        const int distanceIndex = Decode(bits, distances);
        if (distanceIndex < 0 || distanceIndex >= 30)
            return false;
        const std::size_t distance =
            kDistanceBase[distanceIndex] + bits.Take(kDistanceExtra[distanceIndex]);
        if (bits.Failed() || distance > out.size() || out.size() + length > limit)
            return false;
        const std::size_t from = out.size() - distance;
        for (std::size_t i = 0; i < length; ++i)
            out.push_back(out[from + i]);
    }
}

bool InflateStored(Bits& bits, std::vector<std::uint8_t>& out, std::size_t limit) {
    bits.AlignToByte();
    const std::uint32_t length = bits.Take(16);
    const std::uint32_t check = bits.Take(16);
    if (bits.Failed() || (length ^ 0xFFFF) != check || out.size() + length > limit)
        return false;
    for (std::uint32_t i = 0; i < length; ++i)
        out.push_back(static_cast<std::uint8_t>(bits.Take(8)));
    return !bits.Failed();
}

bool InflateFixed(Bits& bits, std::vector<std::uint8_t>& out, std::size_t limit) {
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
    return InflateCodes(bits, codes.first, codes.second, out, limit);
}

bool InflateDynamic(Bits& bits, std::vector<std::uint8_t>& out, std::size_t limit) {
    constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};
    const int literalCount = static_cast<int>(bits.Take(5)) + 257;
    const int distanceCount = static_cast<int>(bits.Take(5)) + 1;
    const int lengthCount = static_cast<int>(bits.Take(4)) + 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;
    std::array<std::uint8_t, 19> codeLengths{};
    for (int i = 0; i < lengthCount; ++i)
        codeLengths[kOrder[i]] = static_cast<std::uint8_t>(bits.Take(3));
    Code lengthCode;
    if (bits.Failed() || !Build(lengthCode, codeLengths.data(), 19))
        return false;
    std::array<std::uint8_t, 316> lengths{};
    int index = 0;
    while (index < literalCount + distanceCount) {
        const int symbol = Decode(bits, lengthCode);
        if (symbol < 0)
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
    return InflateCodes(bits, literals, distances, out, limit);
}

}  // namespace

std::vector<std::uint8_t> Inflate(const std::uint8_t* packed, std::size_t packedSize,
                                  std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size);
    Bits bits(packed, packedSize);
    bool last = false;
    while (!last) {
        last = bits.Take(1) != 0;
        const std::uint32_t type = bits.Take(2);
        bool whole = false;
        if (bits.Failed())
            return {};
        if (type == 0)
            whole = InflateStored(bits, out, size);
        else if (type == 1)
            whole = InflateFixed(bits, out, size);
        else if (type == 2)
            whole = InflateDynamic(bits, out, size);
        if (!whole || bits.Failed())
            return {};
    }
    if (out.size() != size)
        return {};
    return out;
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> built{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            built[n] = c;
        }
        return built;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

}  // namespace kestrave
