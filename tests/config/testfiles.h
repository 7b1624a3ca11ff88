#pragma once

// Scratch files for the configuration tests.

#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/tempdir.h"

namespace sonvera::testing {

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace sonvera::testing
