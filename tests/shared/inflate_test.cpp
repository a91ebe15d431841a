// The form the registration hosts are carried in: a length and a CRC-32 before the deflate
// stream, so that a damaged host is never written out and started.
#include "inflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestrave {
namespace {

TEST(Crc32, GivesTheStandardSumInOnePieceOrInParts) {
    const std::string text = "123456789";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    EXPECT_EQ(Crc32(bytes, text.size()), 0xCBF43926u);
    // Parts of every length, across the four-byte steps.
    for (std::size_t split = 0; split <= text.size(); ++split)
        EXPECT_EQ(Crc32(bytes + split, text.size() - split, Crc32(bytes, split)), 0xCBF43926u)
            << split;
}

std::vector<std::uint8_t> Carried(std::uint32_t length, std::uint32_t crc,
                                  const std::vector<std::uint8_t>& stream) {
    std::vector<std::uint8_t> bytes(8 + stream.size());
    std::memcpy(bytes.data(), &length, 4);
    std::memcpy(bytes.data() + 4, &crc, 4);
    std::copy(stream.begin(), stream.end(), bytes.begin() + 8);
    return bytes;
}

TEST(InflateChecked, GivesTheFileOnlyWhenLengthAndSumMatch) {
    // "abc" in one stored block.
    const std::vector<std::uint8_t> stream = {0x01, 0x03, 0x00, 0xfc, 0xff, 'a', 'b', 'c'};
    const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};
    const std::uint32_t crc = Crc32(abc.data(), abc.size());

    struct Case {
        const char* what;
        std::vector<std::uint8_t> carried;
        bool whole;
    };
    const Case cases[] = {
        {"whole", Carried(3, crc, stream), true},
        {"another sum", Carried(3, crc ^ 1, stream), false},
        {"a longer length", Carried(4, crc, stream), false},
        {"an absurd length", Carried(0xFFFFFFF0u, crc, stream), false},
        {"cut short", Carried(3, crc, {stream.begin(), stream.end() - 1}), false},
        {"only the header", Carried(3, crc, {}), false},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> out = InflateChecked(c.carried.data(), c.carried.size());
        EXPECT_EQ(out, c.whole ? abc : std::vector<std::uint8_t>{}) << c.what;
    }
}

}  // namespace
}  // namespace kestrave
