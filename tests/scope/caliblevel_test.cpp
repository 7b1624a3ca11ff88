#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scope/caliblevel.h"

namespace sonvera {
namespace {

TEST(CalibLevelText, OverloadWinsWhateverTheRestOfTheBlockHolds)
{
    const std::vector<float> block(16000, 0.25f);
    EXPECT_EQ(CalibLevelText(block.data(), 16000, 1), "over 1");
    EXPECT_EQ(CalibLevelText(block.data(), 16000, 37), "over 37");
}

TEST(CalibLevelText, SumOfAbsoluteValuesTimesTwoHundredthsPaddedToFourCharacters)
{
    std::vector<float> block(16000, 0.0f);
    EXPECT_EQ(CalibLevelText(block.data(), 16000, 0), " 0.0%");
    block[0] = 0.5f;
    block[1] = -0.5f;  // sum 1 -> 0.02 -> "0.0"
    EXPECT_EQ(CalibLevelText(block.data(), 16000, 0), " 0.0%");
    block[2] = -250.0f;  // sum 251 -> 5.02
    EXPECT_EQ(CalibLevelText(block.data(), 16000, 0), " 5.0%");
    std::vector<float> half(16000, -0.5f);  // sum 8000 -> 160
    EXPECT_EQ(CalibLevelText(half.data(), 16000, 0), "160.0%");
    std::vector<float> loud(16000, 0.9f);  // sum 14400 -> 288
    EXPECT_EQ(CalibLevelText(loud.data(), 16000, 0), "288.0%");
    EXPECT_EQ(CalibLevelText(loud.data(), 1000, 0), "18.0%");
    EXPECT_EQ(CalibLevelText(nullptr, 0, 0), " 0.0%");
}

TEST(CalibDisplayTexts, CalibrationWidthFiveOneDecimalLevelsFiveDecimals)
{
    EXPECT_EQ(CalibValueText(268.0), "268.0");
    EXPECT_EQ(CalibValueText(1.5), "  1.5");
    EXPECT_EQ(CalibValueText(12345.67), "12345.7");
    EXPECT_EQ(LevelNumberText(8.722), "8.72200");
    EXPECT_EQ(LevelNumberText(12.6), "12.60000");
    EXPECT_EQ(LevelNumberText(-3.25), "-3.25000");
}

TEST(CalibValuesParse, CompleteNumbersWithPointOnly)
{
    const auto v = ParseCalibValues("  1.5", "8.72200", "-12.6");
    ASSERT_TRUE(v.has_value());
    EXPECT_DOUBLE_EQ(v->calibMv, 1.5);
    EXPECT_DOUBLE_EQ(v->levelFactor, 8.722);
    EXPECT_DOUBLE_EQ(v->levelOffset, -12.6);
    EXPECT_TRUE(ParseCalibValues("268", "1e1", "+3").has_value());

    EXPECT_FALSE(ParseCalibValues("268.0", "8,722", "12.6").has_value());   // decimal comma
    EXPECT_FALSE(ParseCalibValues("", "8.722", "12.6").has_value());
    EXPECT_FALSE(ParseCalibValues("0", "8.722", "12.6").has_value());
    EXPECT_FALSE(ParseCalibValues("0.0", "8.722", "12.6").has_value());
    EXPECT_FALSE(ParseCalibValues("-268", "8.722", "12.6").has_value());    // upside down
    EXPECT_FALSE(ParseCalibValues("268mV", "8.722", "12.6").has_value());
    EXPECT_FALSE(ParseCalibValues("268", "8.722", "").has_value());
    EXPECT_FALSE(ParseCalibValues("268", "inf", "1").has_value());
    EXPECT_FALSE(ParseCalibValues("nan", "1", "1").has_value());
    EXPECT_FALSE(ParseCalibValues("1e999", "1", "1").has_value());
}

TEST(CalibValuesParse, ALevelNumberLeftAsShownKeepsItsValueWhole)
{
    // The exact defaults have more decimals than the dialog's five; an untouched field keeps
    // them, a typed one is read as typed.
    const double factor = 20.0 / std::log(10.0);
    const double offset = 20.0 * std::log10(4.0);
    auto v = ParseCalibValues("268", "8.68589", "12.04120", factor, offset);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->levelFactor, factor);
    EXPECT_EQ(v->levelOffset, offset);
    v = ParseCalibValues("268", "8.68589", "12.0412", factor, offset);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->levelFactor, factor);
    EXPECT_EQ(v->levelOffset, 12.0412);
}

TEST(CalibValuesStore, BothCalibrationsTakeTheTypedValueAndOtherSettingsStay)
{
    CalibSettings calib;
    VolumeSettings volume;
    volume.GenOutVolume = 55;
    StoreCalibValues(CalibValues{310.5, 8.5, 10.25}, calib, volume);
    EXPECT_EQ(calib.InCalibValue, 310.5);
    EXPECT_EQ(calib.OutCalibValue, 310.5);
    EXPECT_EQ(volume.LevelFactor, 8.5);
    EXPECT_EQ(volume.LevelOffset, 10.25);
    EXPECT_EQ(volume.GenOutVolume, 55);
}

}  // namespace
}  // namespace sonvera
