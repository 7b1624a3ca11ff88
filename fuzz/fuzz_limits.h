#pragma once
// The limits-file fuzz target, callable as an ordinary function.

#include <cstddef>
#include <cstdint>

#include "measure/limits.h"

namespace sonvera::fuzz {

/// What the limits reader made of a text.
struct LimitsOutcomeOfText {
    LimitsError error;
    Limits limits;
};

/// Parses the bytes as a limits file and checks the result (aborts when a promise is
/// broken: a refusal names a line of the text and leaves no limits, in words of both
/// languages; accepted limits have rising frequencies, ordered bounds, distinct readings,
/// and the curve gives each line's own bounds at its frequency).
LimitsOutcomeOfText ParseLimitsBytes(const std::uint8_t* data, std::size_t size);

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
