#include "App/TimecodeSample.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace ostrel {
namespace {

struct DecodeCase {
  const char* name;
  media::FourCC subtype;
  std::vector<std::uint8_t> data;
  std::optional<StartFrame> expected;
};

constexpr media::FourCC kVideo = 0x61766331;  // 'avc1'

const DecodeCase kCases[] = {
    {"tmcd300", kTimecode32, {0x00, 0x00, 0x01, 0x2C}, 300},
    {"tmcdZero", kTimecode32, {0, 0, 0, 0}, 0},
    {"tmcdLargest", kTimecode32, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
    {"tmcdTrailingBytesIgnored", kTimecode32, {0x00, 0x00, 0x01, 0x2C, 0xAA, 0xBB}, 300},
    {"tmcdBigEndian", kTimecode32, {0x01, 0x02, 0x03, 0x04}, 0x01020304},
    {"tmcdTooShort", kTimecode32, {0x00, 0x01, 0x2C}, std::nullopt},
    {"tmcdEmpty", kTimecode32, {}, std::nullopt},
    {"tc64300", kTimecode64, {0, 0, 0, 0, 0x00, 0x00, 0x01, 0x2C}, 300},
    {"tc64Largest32", kTimecode64, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
    {"tc64TrailingBytesIgnored", kTimecode64, {0, 0, 0, 0, 0, 0, 0, 7, 0xFF}, 7},
    {"tc64AtLeast2To32", kTimecode64, {0, 0, 0, 1, 0, 0, 0, 0}, std::nullopt},
    {"tc64HighByteSet", kTimecode64, {0x80, 0, 0, 0, 0, 0, 0x01, 0x2C}, std::nullopt},
    {"tc64TooShortForPayload", kTimecode64, {0, 0, 0, 0, 0, 0, 1}, std::nullopt},
    {"otherSubtype", kVideo, {0x00, 0x00, 0x01, 0x2C}, std::nullopt},
    {"subtypeZero", 0, {0, 0, 0, 0, 0, 0, 0, 0}, std::nullopt},
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class DecodeTimecodeSample : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTimecodeSample, ReadsFrameNumberFromPayload) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(decodeTimecodeSample(c.subtype, c.data), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeTimecodeSample, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeTimecodeSampleView, ReadsNothingOutsideTheView) {
  // The view ends before the payload would: bytes beyond it must not count.
  const std::uint8_t bytes[] = {0x00, 0x00, 0x01, 0x2C};
  EXPECT_EQ(decodeTimecodeSample(kTimecode32, std::span(bytes, 3)), std::nullopt);
  EXPECT_EQ(decodeTimecodeSample(kTimecode32, std::span(bytes + 1, 3)), std::nullopt);
}

}  // namespace
}  // namespace ostrel
