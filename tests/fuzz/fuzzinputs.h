#pragma once
// The seed and regression inputs of a fuzz target, for the regression tests.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace sonvera::testing {

/// Every file of fuzz/corpus/<target>/ and fuzz/regressions/<target>/, sorted.
inline std::vector<std::filesystem::path> FuzzInputs(const std::string& target)
{
    std::vector<std::filesystem::path> files;
    for (const char* folder : {"corpus", "regressions"}) {
        const std::filesystem::path dir = std::filesystem::path(SONVERA_FUZZ_DIR) / folder / target;
        if (!std::filesystem::is_directory(dir)) {
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

/// The path of one input file: fuzz/<folder>/<target>/<name>.
inline std::filesystem::path FuzzInput(const std::string& folder, const std::string& target, const std::string& name)
{
    return std::filesystem::path(SONVERA_FUZZ_DIR) / folder / target / name;
}

inline std::vector<std::uint8_t> ReadInput(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace sonvera::testing
