// The one number formatter of every shown or written number.

#include <gtest/gtest.h>

#include <clocale>
#include <limits>

#include "config/numberformat.h"

namespace sonvera {
namespace {

TEST(FormatFixed, PointDecimalsWidthAndNeverASignedZero)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double v;
        int decimals, width;
        const char* text;
    } cases[] = {
        {-110.0, 0, 3, "-110"},   {5.0, 0, 3, "  5"},        {2.5, 1, 3, "2.5"},     {1234.5678, 2, 0, "1234.57"},
        {0.4, 3, 0, "0.400"},     {1000.4, 0, 0, "1000"},     {-12.345, 1, 0, "-12.3"}, {-0.001, 2, 0, "0.00"},
        {-0.0, 2, 0, "0.00"},     {-0.004999, 2, 6, "  0.00"}, {-0.005001, 2, 0, "-0.01"}, {-0.4, 0, 0, "0"},
        {nan, 2, 0, "nan"},       {-nan, 2, 5, "  nan"},      {inf, 1, 0, "inf"},     {-inf, 1, 0, "-inf"},
        {2.5, -3, 0, "2"},
    };
    // A locale with a decimal comma changes nothing.
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFixed(c.v, c.decimals, c.width), c.text) << c.v << " " << c.decimals;
    }
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace sonvera
