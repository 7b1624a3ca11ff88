#pragma once
// The diagram-table fuzz target, callable as an ordinary function.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "diagram/diagramtable.h"

namespace sonvera::fuzz {

/// What the table reader made of a text, for each column count it can be asked for.
struct TableOutcome {
    static constexpr std::array<int, 4> kColumns{0, 2, 3, 1};  // 1 is refused outright
    std::array<bool, 4> ok{};
    std::array<DiagramTable, 4> table{};
    std::array<std::string, 4> error{};
    /// The reader of wide tables (any number of curves, a header naming them).
    bool wideOk = false;
    DiagramTable wide;
    std::string wideError;
};

/// Reads the bytes as a diagram text export with every column setting, and as a wide
/// table, and checks each result (aborts when a promise is broken).
TableOutcome ReadTableBytes(const std::uint8_t* data, std::size_t size);

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
