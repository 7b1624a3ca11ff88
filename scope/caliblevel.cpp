#include "scope/caliblevel.h"

#include <charconv>
#include <cmath>

#include "config/numberformat.h"

namespace sonvera {

namespace {

// Sum of the display: 0.02 per unit of absolute sample value.
constexpr double kDisplayPerUnit = 0.02;

}  // namespace

std::string CalibLevelText(const float* values, int valueCount, int overloadCount)
{
    if (overloadCount != 0) {
        return "over " + std::to_string(overloadCount);
    }
    double sum = 0.0;
    for (int i = 0; values != nullptr && i < valueCount; ++i) {
        sum += std::fabs(static_cast<double>(values[i]));
    }
    return FormatFixed(kDisplayPerUnit * sum, 1, 4) + "%";
}

std::string CalibValueText(double mv)
{
    return FormatFixed(mv, 1, 5);
}

std::string LevelNumberText(double v)
{
    return FormatFixed(v, 5);
}

std::optional<double> ParseTypedNumber(const std::string& text)
{
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos) {
        return std::nullopt;
    }
    const char* begin = text.data() + b;
    const char* end = text.data() + e + 1;
    if (*begin == '+' && end - begin > 1 && begin[1] != '-') {
        ++begin;
    }
    double v = 0.0;
    const auto r = std::from_chars(begin, end, v, std::chars_format::fixed | std::chars_format::scientific);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

std::optional<CalibValues> ParseCalibValues(const std::string& calib, const std::string& factor,
                                            const std::string& offset, double shownFactor, double shownOffset)
{
    auto level = [](const std::string& text, double shown) {
        return text == LevelNumberText(shown) ? std::optional<double>(shown) : ParseTypedNumber(text);
    };
    const auto c = ParseTypedNumber(calib);
    const auto f = level(factor, shownFactor);
    const auto o = level(offset, shownOffset);
    // A calibration of 0 would make every voltage 0; a negative one would turn the
    // traces upside down. Neither is a measurement.
    if (!c || !f || !o || !(*c > 0.0)) {
        return std::nullopt;
    }
    return CalibValues{*c, *f, *o};
}

void StoreCalibValues(const CalibValues& values, CalibSettings& calib, VolumeSettings& volume)
{
    calib.InCalibValue = values.calibMv;
    calib.OutCalibValue = values.calibMv;
    volume.LevelFactor = values.levelFactor;
    volume.LevelOffset = values.levelOffset;
}

}  // namespace sonvera
