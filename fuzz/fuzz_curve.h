#pragma once
// The correction-file fuzz target, callable as an ordinary function.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dsp/curve.h"

namespace sonvera::fuzz {

/// What the loader made of a correction file.
struct CurveOutcome {
    bool loaded = false;
    CorrectionCurve curve;
    std::vector<std::string> warnings;  // the loader's messages, English
};

/// Loads the bytes as a correction file and checks the loaded curve (aborts when a
/// promise is broken: points ascending and finite, the spline through them finite).
CurveOutcome LoadCurveBytes(const std::uint8_t* data, std::size_t size);

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
