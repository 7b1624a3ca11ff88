#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/blockconvert.h"

namespace sonvera {
namespace {

std::vector<std::uint8_t> Bytes16(std::initializer_list<std::int16_t> values)
{
    std::vector<std::uint8_t> out(values.size() * 2);
    std::size_t i = 0;
    for (std::int16_t v : values) {
        std::memcpy(out.data() + 2 * i++, &v, 2);
    }
    return out;
}

std::vector<std::uint8_t> Bytes32(std::initializer_list<std::int32_t> values)
{
    std::vector<std::uint8_t> out(values.size() * 4);
    std::size_t i = 0;
    for (std::int32_t v : values) {
        std::memcpy(out.data() + 4 * i++, &v, 4);
    }
    return out;
}

TEST(BlockConvert, SixteenBitFullScaleOnBothChannelsCountsTwoOverloads)
{
    // Frame 0: left 32767, right -32768; frame 1 ordinary values.
    const auto raw = Bytes16({32767, -32768, 100, -100});
    std::vector<float> out(kSampleBufferValues, 9.0f);
    const ConvertedBlock c = ConvertCapturedBlock(raw.data(), raw.size(), 16, 0, out.data(), out.size());
    EXPECT_EQ(c.valueCount, 4);
    EXPECT_EQ(c.overloadCount, 2);
    EXPECT_FLOAT_EQ(out[0], -1.0f);                // right input first
    EXPECT_FLOAT_EQ(out[1], 32767.0f / 32768.0f);  // then left
    EXPECT_FLOAT_EQ(out[2], -100.0f / 32768.0f);
    EXPECT_FLOAT_EQ(out[3], 100.0f / 32768.0f);
    EXPECT_EQ(out[4], 9.0f);  // nothing written beyond the block
}

TEST(BlockConvert, SwapFlagDecidesWhichInputLandsOnEvenPositions)
{
    const auto raw = Bytes16({16384, -16384});  // left 0.5, right -0.5
    std::vector<float> out(4);
    ConvertCapturedBlock(raw.data(), raw.size(), 16, 0, out.data(), out.size());
    EXPECT_FLOAT_EQ(out[0], -0.5f);
    EXPECT_FLOAT_EQ(out[1], 0.5f);
    ConvertCapturedBlock(raw.data(), raw.size(), 16, 1, out.data(), out.size());
    EXPECT_FLOAT_EQ(out[0], 0.5f);
    EXPECT_FLOAT_EQ(out[1], -0.5f);
}

TEST(BlockConvert, EightBitSilenceIsZeroWithoutOverload)
{
    std::vector<std::uint8_t> raw(512, 128);
    std::vector<float> out(kSampleBufferValues, 1.0f);
    const ConvertedBlock c = ConvertCapturedBlock(raw.data(), raw.size(), 8, 0, out.data(), out.size());
    EXPECT_EQ(c.valueCount, 512);
    EXPECT_EQ(c.overloadCount, 0);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(out[i], 0.0f) << i;
    }
}

TEST(BlockConvert, EightBitExtremesAreOverloadsAndScaleBy128)
{
    const std::vector<std::uint8_t> raw = {0, 255, 1, 254, 192, 64};
    std::vector<float> out(6);
    const ConvertedBlock c = ConvertCapturedBlock(raw.data(), raw.size(), 8, 1, out.data(), out.size());
    EXPECT_EQ(c.overloadCount, 2);
    EXPECT_FLOAT_EQ(out[0], -1.0f);
    EXPECT_FLOAT_EQ(out[1], 127.0f / 128.0f);
    EXPECT_FLOAT_EQ(out[2], -127.0f / 128.0f);
    EXPECT_FLOAT_EQ(out[3], 126.0f / 128.0f);
    EXPECT_FLOAT_EQ(out[4], 0.5f);
    EXPECT_FLOAT_EQ(out[5], -0.5f);
}

TEST(BlockConvert, ThirtyTwoBitContainersScaleByMaxAndCountBothEnds)
{
    // 0x7FFFFF00 is the largest 24-bit sample in its container: full scale too.
    const auto raw = Bytes32({2147483647, -2147483647 - 1, -2147483647, 1073741824, 0x7FFFFF00, 0x7FFFFEFF});
    std::vector<float> out(6);
    const ConvertedBlock c = ConvertCapturedBlock(raw.data(), raw.size(), 32, 1, out.data(), out.size());
    EXPECT_EQ(c.valueCount, 6);
    EXPECT_EQ(c.overloadCount, 4);  // all but 1073741824 and 0x7FFFFEFF
    EXPECT_FLOAT_EQ(out[0], 1.0f);
    EXPECT_FLOAT_EQ(out[3], static_cast<float>(1073741824.0 / 2147483647.0));
    // 24 bits travel in the same containers and convert the same way.
    const ConvertedBlock c24 = ConvertCapturedBlock(raw.data(), raw.size(), 24, 1, out.data(), out.size());
    EXPECT_EQ(c24.valueCount, 6);
    EXPECT_EQ(c24.overloadCount, 4);
}

TEST(BlockConvert, NeverWritesBeyondCapacityAndKeepsWholeFrames)
{
    std::vector<std::uint8_t> raw(40000, 128);  // 8-bit: 40000 values, more than fit
    std::vector<float> out(kSampleBufferValues + 1, 7.0f);
    const ConvertedBlock c = ConvertCapturedBlock(raw.data(), raw.size(), 8, 0, out.data(), kSampleBufferValues);
    EXPECT_EQ(c.valueCount, static_cast<int>(kSampleBufferValues));
    EXPECT_EQ(out[kSampleBufferValues], 7.0f);
    // A trailing half frame is dropped rather than stored on the wrong position.
    const auto odd = Bytes16({1000, 2000, 3000});
    const ConvertedBlock c2 = ConvertCapturedBlock(odd.data(), odd.size(), 16, 0, out.data(), out.size());
    EXPECT_EQ(c2.valueCount, 2);
}

TEST(BlockConvert, EmptyBlockGivesNoValues)
{
    std::vector<float> out(4);
    const ConvertedBlock c = ConvertCapturedBlock(nullptr, 0, 16, 0, out.data(), out.size());
    EXPECT_EQ(c.valueCount, 0);
    EXPECT_EQ(c.overloadCount, 0);
}

}  // namespace
}  // namespace sonvera
