// Runs the built programs as a user would: which configuration file is in force, as
// their --help names it, and what "settings" says of a file it refuses to read. The
// environment of each run is set here; no real home is read or written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "config/profilefile.h"
#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

struct RunResult {
    int status = -1;
    std::string output;  // standard output and standard error
};

RunResult RunShell(const std::string& command)
{
    RunResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buf[4096];
    for (std::size_t n = 0; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
        result.output.append(buf, n);
    }
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

std::string Folder(const std::string& program)
{
    return program.substr(0, program.rfind('/') + 1);
}

TEST(ConfigFileInForce, HelpNamesTheFileChosenByOptionProgramFolderAndEnvironment)
{
    testing::TempDir home;
    struct Case {
        std::string environment;
        std::string option;
        std::string expected;
    };
    const std::string h = home.Path().string();
    const Case cases[] = {
        {"env -u XDG_CONFIG_HOME HOME='" + h + "'", "", h + "/.config/sonvera/snv13.cfg"},
        {"env XDG_CONFIG_HOME='" + h + "/xdg' HOME=/nonexistent", "", h + "/xdg/sonvera/snv13.cfg"},
        {"env XDG_CONFIG_HOME=relative/cfg HOME='" + h + "'", "", h + "/.config/sonvera/snv13.cfg"},
        {"env XDG_CONFIG_HOME= HOME='" + h + "'", "", h + "/.config/sonvera/snv13.cfg"},
        {"env HOME='" + h + "'", "--config '" + h + "/mine.cfg'", h + "/mine.cfg"},
    };
    for (const std::string& program : {std::string(SONVERA_CLI), std::string(SONVERA_GUI)}) {
        // A file beside the program (portable use) wins over the environment.
        const std::string beside = Folder(program) + "snv13.cfg";
        struct stat st {};
        const bool portable = ::lstat(beside.c_str(), &st) == 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(program + " " + c.environment);
            const RunResult r = RunShell(std::string(c.environment) + " '" + program + "' " + c.option + " --help");
            EXPECT_EQ(r.status, 0);
            const std::string expected = portable && c.option.empty() ? beside : c.expected;
            EXPECT_NE(r.output.find("\nConfiguration file in force: " + expected + "\n"), std::string::npos)
                << r.output;
        }
    }
    EXPECT_TRUE(home.Entries().empty());  // naming the file makes nothing
}

TEST(ConfigFileInForce, SettingsRefusesAFileItCannotReadAndSaysWhy)
{
    testing::TempDir dir;
    const std::string utf16 = dir.File("utf16.cfg");
    testing::WriteBytes(utf16, std::string("\xFF\xFE[\0M\0A\0I\0N\0]\0\n\0", 16));
    const std::string large = dir.File("large.cfg");
    testing::WriteBytes(large, "[MAIN]\n");
    ASSERT_EQ(::truncate(large.c_str(), ProfileFile::kMaxFileBytes + 1), 0);
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {utf16, "stored as UTF-16; only UTF-8 text is read"},
        {large, "larger than 16 MiB, the limit for a configuration file"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunShell("'" + std::string(SONVERA_CLI) + "' --audio virtual --config '" + c.path + "' settings");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "sonvera-cli settings: cannot read '" + c.path + "': " + c.reason + "\n");
    }
}

}  // namespace
}  // namespace sonvera
