#include "config/configpath.h"

#include <filesystem>
#include <system_error>

namespace sonvera {

std::string ProgramDirectory()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path()) {
        return "./";
    }
    std::string dir = exe.parent_path().string();
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    return dir;
}

std::string ConfigFilePath(const std::string& overridePath)
{
    if (!overridePath.empty()) {
        return overridePath;
    }
    return ProgramDirectory() + "snv13.cfg";
}

}  // namespace sonvera
