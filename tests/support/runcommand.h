#pragma once

// Runs a shell command as a user would and collects its exit status and standard output.

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace sonvera::testing {

struct CommandResult {
    int status = -1;     // exit status; -1 when the command did not exit normally
    std::string output;  // everything written to standard output
};

inline CommandResult RunCommand(const std::string& command)
{
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        result.output.append(buf, n);
    }
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

}  // namespace sonvera::testing
