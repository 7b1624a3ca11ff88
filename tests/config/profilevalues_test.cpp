#include "config/profilevalues.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale>
#include <sstream>
#include <string>

#include "config/profilefile.h"
#include "config/sections.h"
#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

TEST(ParseInteger, AcceptsOptionallySignedDecimals)
{
    EXPECT_EQ(ParseInteger("0"), 0);
    EXPECT_EQ(ParseInteger("-5"), -5);
    EXPECT_EQ(ParseInteger("+7"), 7);
    EXPECT_EQ(ParseInteger("007"), 7);
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger("-2147483648"), -2147483647 - 1);
}

TEST(ParseInteger, RejectsEverythingElse)
{
    for (const char* bad : {"", " 5", "5 ", "5x", "x5", "0x10", "1.0", "1e3", "2147483648", "-2147483649", "+-1",
                            "-+1", "-", "+", "--1", "1,000"}) {
        EXPECT_FALSE(ParseInteger(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(ParseReal, AcceptsDecimalsWithPointAndExponent)
{
    EXPECT_DOUBLE_EQ(*ParseReal("-6.5"), -6.5);
    EXPECT_DOUBLE_EQ(*ParseReal("8.722"), 8.722);
    EXPECT_DOUBLE_EQ(*ParseReal("1e3"), 1000.0);
    EXPECT_DOUBLE_EQ(*ParseReal("1E-2"), 0.01);
    EXPECT_DOUBLE_EQ(*ParseReal("2.5e+1"), 25.0);
    EXPECT_DOUBLE_EQ(*ParseReal(".5"), 0.5);
    EXPECT_DOUBLE_EQ(*ParseReal("5."), 5.0);
    EXPECT_DOUBLE_EQ(*ParseReal("+2"), 2.0);
    EXPECT_DOUBLE_EQ(*ParseReal("-110"), -110.0);
}

TEST(ParseReal, RejectsEverythingElse)
{
    for (const char* bad : {"", ".", "-", "abc", "1,5", "1.5.2", " 1", "1 ", "inf", "-inf", "nan", "infinity",
                            "0x1p3", "1e", "1e+", "e5", "1e400", "-1e400", "++1", "1.5x"}) {
        EXPECT_FALSE(ParseReal(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(ParseBoolean, OnlyExactlyFalseIsFalse)
{
    EXPECT_FALSE(ParseBoolean("FALSE"));
    for (const char* on : {"TRUE", "false", "False", "0", "", "FALSE ", "no"}) {
        EXPECT_TRUE(ParseBoolean(on)) << '"' << on << '"';
    }
}

TEST(FormatValues, IntegersAndBooleans)
{
    EXPECT_EQ(FormatInteger(0), "0");
    EXPECT_EQ(FormatInteger(-42), "-42");
    EXPECT_EQ(FormatInteger(28000), "28000");
    EXPECT_EQ(FormatBoolean(true), "TRUE");
    EXPECT_EQ(FormatBoolean(false), "FALSE");
}

TEST(FormatValues, RealsHaveFixedDecimals)
{
    EXPECT_EQ(FormatReal(268.0, 1), "268.0");
    EXPECT_EQ(FormatReal(8.722, 4), "8.7220");
    EXPECT_EQ(FormatReal(12.6, 4), "12.6000");
    EXPECT_EQ(FormatReal(0.001, 7), "0.0010000");
    EXPECT_EQ(FormatReal(-110.0, 0), "-110");
    EXPECT_EQ(FormatReal(-6.5, 1), "-6.5");
    EXPECT_EQ(FormatReal(-44.6, 0), "-45");
    EXPECT_EQ(FormatReal(1e-9, 7), "0.0000000");
}

TEST(FormatValues, RealsRoundHalvesToEven)
{
    // Exact binary halves go to the even neighbour.
    EXPECT_EQ(FormatReal(0.5, 0), "0");
    EXPECT_EQ(FormatReal(1.5, 0), "2");
    EXPECT_EQ(FormatReal(2.5, 0), "2");
    EXPECT_EQ(FormatReal(-2.5, 0), "-2");
    EXPECT_EQ(FormatReal(0.125, 2), "0.12");
    EXPECT_EQ(FormatReal(0.375, 2), "0.38");
    // 0.35 is stored as 0.34999..., so it goes down: rounding follows the stored value.
    EXPECT_EQ(FormatReal(0.35, 1), "0.3");
}

TEST(FormatValues, ZeroHasNoMinusSign)
{
    EXPECT_EQ(FormatReal(-0.04, 1), "0.0");
    EXPECT_EQ(FormatReal(-0.4, 0), "0");
    EXPECT_EQ(FormatReal(-0.0, 2), "0.00");
}

TEST(FormatValues, NonFiniteValuesReadBackAsUnparsable)
{
    EXPECT_FALSE(ParseReal(FormatReal(std::numeric_limits<double>::quiet_NaN(), 1)).has_value());
    EXPECT_FALSE(ParseReal(FormatReal(std::numeric_limits<double>::infinity(), 1)).has_value());
}

TEST(RoundHalfEven, NearestWithHalvesToEven)
{
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
    EXPECT_EQ(RoundHalfEven(2.4999), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5001), 3.0);
    EXPECT_EQ(RoundHalfEven(-0.7), -1.0);
    EXPECT_EQ(RoundHalfEven(439.5), 440.0);
}

/// A numeric punctuation that uses the decimal comma, for when no such named locale
/// can be had.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

/// Runs its tests with a process locale that writes a decimal comma: de_DE.UTF-8 when
/// it is installed or can be generated into a scratch folder (LOCPATH), and always a
/// C++ global locale with comma punctuation.
class DecimalCommaLocale : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        savedC_ = std::setlocale(LC_ALL, nullptr);
        savedCpp_ = std::locale();
        namedLocale_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        if (!namedLocale_) {
            localeDir_ = new testing::TempDir();
            const std::string target = (localeDir_->Path() / "de_DE.UTF-8").string();
            const std::string cmd = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
            if (std::system(cmd.c_str()) == 0) {
                ::setenv("LOCPATH", localeDir_->Path().c_str(), 1);
                namedLocale_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
            }
        }
        std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
        if (namedLocale_) {
            std::setlocale(LC_ALL, "de_DE.UTF-8");  // locale::global reset the C locale
        }
    }

    static void TearDownTestSuite()
    {
        std::locale::global(savedCpp_);
        std::setlocale(LC_ALL, savedC_.c_str());
        ::unsetenv("LOCPATH");
        delete localeDir_;
        localeDir_ = nullptr;
    }

    void SetUp() override
    {
        // The environment really writes commas, or these tests prove nothing.
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        if (namedLocale_) {
            ASSERT_STREQ(buf, "1,5");
        }
        std::ostringstream out;
        out << 1.5;
        ASSERT_EQ(out.str(), "1,5");
    }

    static inline std::string savedC_;
    static inline std::locale savedCpp_;
    static inline bool namedLocale_ = false;
    static inline testing::TempDir* localeDir_ = nullptr;
};

TEST_F(DecimalCommaLocale, ValuesStillUseThePoint)
{
    RecordProperty("named_locale", namedLocale_ ? "de_DE.UTF-8" : "none (facet only)");
    EXPECT_EQ(FormatReal(12.6, 4), "12.6000");
    EXPECT_EQ(FormatReal(-6.5, 1), "-6.5");
    EXPECT_EQ(FormatInteger(28000), "28000");
    EXPECT_DOUBLE_EQ(*ParseReal("8.722"), 8.722);
    EXPECT_FALSE(ParseReal("8,722").has_value());
}

TEST_F(DecimalCommaLocale, SectionsWriteAndReadWithThePoint)
{
    testing::TempDir dir;
    ProfileFile file(dir.File("snv13.cfg"));
    Settings s;
    s.Volume.LevelFactor = 8.5;
    s.Sweep.SweepLevel = -6.5f;
    WriteMainSections(file, s);
    const std::string text = testing::ReadBytes(dir.File("snv13.cfg"));
    EXPECT_NE(text.find("PEGFAK=8.5000\n"), std::string::npos);
    EXPECT_NE(text.find("PEGDIG=-6.5\n"), std::string::npos);
    EXPECT_EQ(text.find(','), std::string::npos);

    Settings back;
    ReadMainSections(file, back, {});
    EXPECT_DOUBLE_EQ(back.Volume.LevelFactor, 8.5);
    EXPECT_FLOAT_EQ(back.Sweep.SweepLevel, -6.5f);
}

}  // namespace
}  // namespace sonvera
