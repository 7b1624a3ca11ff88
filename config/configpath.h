#pragma once

#include <functional>
#include <string>

namespace sonvera {

/// Directory of the running program file, with its trailing separator.
/// Falls back to the current directory ("./") when it cannot be determined.
std::string ProgramDirectory();

/// The configuration file in force and how it was chosen.
struct ConfigLocation {
    std::string path;
    /// The per-user file: its folder is created by the first save (and may be missing
    /// until then). A file named by --config or beside the program never gets one.
    bool perUser = false;
};

/// Where the configuration file lives: `overridePath` (option --config) when given;
/// otherwise "snv13.cfg" in `programDirectory` when that file exists there (portable
/// use); otherwise "$XDG_CONFIG_HOME/sonvera/snv13.cfg", with "$HOME/.config" when
/// XDG_CONFIG_HOME is unset, empty or not absolute (and the password database's home
/// when HOME is unset). `getEnv` reads the environment (nullptr or "" for unset).
ConfigLocation LocateConfigFile(const std::string& overridePath, const std::string& programDirectory,
                                const std::function<const char*(const char*)>& getEnv);

/// LocateConfigFile for this process: its own directory and environment.
ConfigLocation LocateConfigFile(const std::string& overridePath = {});

/// The path of LocateConfigFile for this process.
std::string ConfigFilePath(const std::string& overridePath = {});

/// The folder of the configuration file, with its trailing separator ("" for a bare
/// name, the current directory): correction files named without a folder live there.
std::string ConfigFolder(const std::string& configPath);

}  // namespace sonvera
