#pragma once
// The configuration-file fuzz target, callable as an ordinary function.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/profilefile.h"
#include "config/settings.h"

namespace sonvera::fuzz {

/// What the readers made of a configuration file.
struct ConfigOutcome {
    ProfileFile::Status status = ProfileFile::Status::Missing;  // of the file on disk
    Settings settings;     // every section read, in the program's order
    std::string written;   // the settings as the program writes them into an empty file
};

/// Reads the bytes as a configuration file with every section reader, writes the
/// settings back and checks that they read back the same (aborts when not).
ConfigOutcome ReadConfigBytes(const std::uint8_t* data, std::size_t size);

/// The device names the fuzz target reads SDSOUND with.
extern const std::array<std::string, 3> kFuzzInNames;
extern const std::array<std::string, 3> kFuzzOutNames;

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
