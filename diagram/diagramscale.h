#pragma once

#include <array>
#include <string>
#include <string_view>

#include "config/numberformat.h"

namespace sonvera {

/// One tick of the logarithmic frequency axis: its frequency in Hz and its label
/// (empty for the unlabelled ticks).
struct FreqTick {
    int freqHz;
    const char* label;
};

/// Number of ticks of the logarithmic axis: 1..9, 10..90, ..., 10000..100000 Hz.
inline constexpr int kFreqTickCount = 46;

/// The ticks of the logarithmic frequency axis, lowest first.
extern const std::array<FreqTick, kFreqTickCount> FreqTickTable;

/// The 1-2-5 ladder: the smallest of 0.02 .. 20000 strictly above x; x itself from 20000 on.
double NiceStep(double x);

/// Nearest integer with halves to even, as every real-to-integer conversion of the diagram.
/// Values beyond +-1e9 (and NaN) are clamped so that no conversion overflows. Inline: the
/// curves round every point.
inline int DiagramRound(double x)
{
    if (x > 1e9) {
        return 1000000000;
    }
    if (!(x >= -1e9)) {
        return x < -1e9 ? -1000000000 : 0;  // NaN gives 0
    }
    // Adding and taking away 1.5 * 2^52 leaves the nearest integer, halves to even (the
    // default rounding of every double operation), for all |x| below 2^51.
    constexpr double kShift = 6755399441055744.0;
    return static_cast<int>((x + kShift) - kShift);
}


}  // namespace sonvera
