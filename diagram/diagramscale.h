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
/// Values beyond +-1e9 (and NaN) are clamped so that no conversion overflows.
int DiagramRound(double x);


}  // namespace sonvera
