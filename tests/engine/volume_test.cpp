#include <gtest/gtest.h>

#include "engine/volume.h"

namespace sonvera {
namespace {

TEST(VolumeArithmetic, FiftyPercentIs32767PerHalfAndReadsBackFifty)
{
    EXPECT_EQ(VolumeFromPercent(50), 0x7FFF7FFFu);
    EXPECT_EQ(PercentFromVolume(0x7FFF7FFFu), 50);
}

TEST(VolumeArithmetic, EndsOfTheScale)
{
    EXPECT_EQ(VolumeFromPercent(0), 0u);
    EXPECT_EQ(VolumeFromPercent(100), 0xFFFFFFFFu);
    EXPECT_EQ(PercentFromVolume(0xFFFFFFFFu), 100);
    EXPECT_EQ(PercentFromVolume(0), 0);
}

TEST(VolumeArithmetic, EveryPercentageMatchesTruncatedProductAndBothHalvesAreEqual)
{
    for (int p = 0; p <= 100; ++p) {
        const std::uint32_t v = VolumeFromPercent(p);
        const auto expectedHalf = static_cast<std::uint32_t>(static_cast<double>(p) * 655.35);
        EXPECT_EQ(v & 0xFFFFu, expectedHalf) << p;
        EXPECT_EQ(v >> 16, expectedHalf) << p;
        // Read back by integer division by 655: never more than the percentage set.
        EXPECT_EQ(PercentFromVolume(v), static_cast<int>(expectedHalf / 655)) << p;
    }
    EXPECT_EQ(PercentFromVolume(VolumeFromPercent(25)), 25);  // 16383 / 655
}

TEST(VolumeArithmetic, ReadBackUsesTheLeftHalfOnly)
{
    EXPECT_EQ(PercentFromVolume(0xFFFF0000u), 0);
    EXPECT_EQ(PercentFromVolume(0x0000FFFFu), 100);
}

TEST(VolumeArithmetic, OutOfRangePercentagesAreClampedInsteadOfOverflowing)
{
    EXPECT_EQ(VolumeFromPercent(150), VolumeFromPercent(100));
    EXPECT_EQ(VolumeFromPercent(-5), 0u);
}

}  // namespace
}  // namespace sonvera
