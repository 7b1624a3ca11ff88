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
        {-110.0, 0, 5, " -110"}, {2.5, 1, 3, "2.5"},   {1234.5678, 2, 0, "1234.57"}, {-12.345, 1, 0, "-12.3"},
        {-0.001, 2, 0, "0.00"},  {-0.0, 2, 0, "0.00"}, {-0.4, 0, 2, " 0"},         {-0.005001, 2, 0, "-0.01"},
        {nan, 2, 0, "nan"},      {-inf, 1, 0, "-inf"},
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
