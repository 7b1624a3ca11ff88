#pragma once
// The overlay-folder fuzz target, callable as an ordinary function.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "diagram/overlaystore.h"

namespace sonvera::fuzz {

/// What the store made of an index.
struct OverlaysOutcome {
    std::vector<OverlayResult> problems;
    std::size_t overlays[OverlayStore::kPages] = {};
};

/// Opens a folder whose index holds the bytes (beside one good and one bad table file)
/// and checks what the store made of it (aborts when a promise is broken).
OverlaysOutcome OpenOverlayIndex(const std::uint8_t* data, std::size_t size);

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
