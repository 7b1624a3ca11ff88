#pragma once
// The log sweep's parameter check as a fuzz target, callable as an ordinary function.

#include <cstddef>
#include <cstdint>

#include "dsp/logsweep.h"

namespace sonvera::fuzz {

/// What the check made of one set of parameters.
struct LogSweepOutcome {
    bool parsed = false;  // five numbers were read
    LogSweepParams params;
    int pointsPerOctave = 0;
    LogSweepParamError error = LogSweepParamError::None;
};

/// Reads "FROM TO SECONDS RATE POINTS" (numbers as strtod reads them, blanks between),
/// checks them like the program does before it plays and, for parameters the check
/// lets through, plans the sweep and its analysis without running them (aborts when a
/// promise is broken: the sweep has frames, its grid at least one point, the analysis'
/// transforms stay within the bound of the recording's length and every window fits
/// its transform, for the recording alone and with the longest delay a device
/// specification allows).
LogSweepOutcome CheckLogSweepBytes(const std::uint8_t* data, std::size_t size);

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
