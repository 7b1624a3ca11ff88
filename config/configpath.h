#pragma once

#include <string>

namespace sonvera {

/// Directory of the running program file, with its trailing separator.
/// Falls back to the current directory ("./") when it cannot be determined.
std::string ProgramDirectory();

/// Where the configuration file lives: the program's directory followed by
/// "snv13.cfg", unless an explicit path (option --config) replaces it.
std::string ConfigFilePath(const std::string& overridePath = {});

}  // namespace sonvera
