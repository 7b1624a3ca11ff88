#include "config/configpath.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace sonvera {

namespace {

constexpr const char* kConfigName = "snv13.cfg";

std::string WithSlash(std::string dir)
{
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    return dir;
}

std::string HomeFolder(const std::function<const char*(const char*)>& getEnv)
{
    const char* home = getEnv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return ".";
}

}  // namespace

std::string ProgramDirectory()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path()) {
        return "./";
    }
    return WithSlash(exe.parent_path().string());
}

ConfigLocation LocateConfigFile(const std::string& overridePath, const std::string& programDirectory,
                                const std::function<const char*(const char*)>& getEnv)
{
    if (!overridePath.empty()) {
        return {overridePath, false};
    }
    const std::string beside = WithSlash(programDirectory) + kConfigName;
    struct stat st {};
    if (::lstat(beside.c_str(), &st) == 0) {
        return {beside, false};
    }
    const char* xdg = getEnv("XDG_CONFIG_HOME");
    const std::string base = xdg != nullptr && xdg[0] == '/' ? std::string(xdg) : WithSlash(HomeFolder(getEnv)) + ".config";
    return {WithSlash(base) + "sonvera/" + kConfigName, true};
}

ConfigLocation LocateConfigFile(const std::string& overridePath)
{
    return LocateConfigFile(overridePath, ProgramDirectory(), [](const char* name) { return std::getenv(name); });
}

std::string ConfigFilePath(const std::string& overridePath)
{
    return LocateConfigFile(overridePath).path;
}

std::string ConfigFolder(const std::string& configPath)
{
    const auto slash = configPath.rfind('/');
    return slash == std::string::npos ? std::string() : configPath.substr(0, slash + 1);
}

}  // namespace sonvera
