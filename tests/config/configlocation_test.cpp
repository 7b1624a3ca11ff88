// Where the configuration file lives, and the lock that tells two running programs on
// one file apart. The environment is handed in, so no real home is read or written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/configlock.h"
#include "config/configpath.h"
#include "config/profilefile.h"
#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

using testing::TempDir;

TEST(ConfigLocation, OptionThenFileBesideTheProgramThenThePerUserFolder)
{
    TempDir program;
    TempDir portable;
    testing::WriteBytes(portable.File("snv13.cfg"), "");
    const std::string prog = program.Path().string();
    struct Case {
        const char* what;
        std::string option;
        std::string programDir;
        std::map<std::string, std::string> env;
        std::string path;
        bool perUser;
    };
    const Case cases[] = {
        {"option wins", "/x/given.cfg", portable.Path().string(), {{"HOME", "/home/u"}}, "/x/given.cfg", false},
        {"beside the program", "", portable.Path().string(), {{"HOME", "/home/u"}},
         portable.File("snv13.cfg"), false},
        {"XDG_CONFIG_HOME", "", prog, {{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/u"}},
         "/cfg/sonvera/snv13.cfg", true},
        {"unset", "", prog, {{"HOME", "/home/u/"}}, "/home/u/.config/sonvera/snv13.cfg", true},
        {"empty", "", prog, {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}}, "/home/u/.config/sonvera/snv13.cfg",
         true},
        {"not absolute", "", prog, {{"XDG_CONFIG_HOME", "rel"}, {"HOME", "/home/u"}},
         "/home/u/.config/sonvera/snv13.cfg", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ConfigLocation at = LocateConfigFile(c.option, c.programDir, [&](const char* name) -> const char* {
            const auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        });
        EXPECT_EQ(at.path, c.path);
        EXPECT_EQ(at.perUser, c.perUser);
    }
    EXPECT_EQ(ConfigFolder("/home/u/.config/sonvera/snv13.cfg"), "/home/u/.config/sonvera/");
    EXPECT_EQ(ConfigFolder("snv13.cfg"), "");
}

TEST(ConfigLocation, TheFirstSaveCreatesThePerUserFolderPrivately)
{
    TempDir home;
    const std::string path = home.File(".config/sonvera/snv13.cfg");
    EXPECT_FALSE(ProfileFile(path).WriteString("A", "K", "1"));  // only the per-user file may
    ProfileFile file(path);
    file.SetCreateFolder(true);
    ASSERT_TRUE(file.WriteString("A", "K", "1"));
    EXPECT_EQ(testing::ReadBytes(path), "[A]\nK=1\n");
    for (const char* folder : {".config", ".config/sonvera"}) {
        struct stat st {};
        ASSERT_EQ(::stat(home.File(folder).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
}

TEST(ConfigLock, ASecondHolderIsToldUntilTheFirstEnds)
{
    TempDir dir;
    const std::string config = dir.File("snv13.cfg");
    auto first = std::make_unique<ConfigLock>(config, false);
    EXPECT_EQ(first->GetState(), ConfigLock::State::Held);
    EXPECT_EQ(ConfigLock(config, false).GetState(), ConfigLock::State::HeldElsewhere);
    // Through a link it is the same file.
    std::filesystem::create_symlink("snv13.cfg", dir.File("link.cfg"));
    EXPECT_EQ(ConfigLock(dir.File("link.cfg"), false).GetState(), ConfigLock::State::HeldElsewhere);
    first.reset();
    EXPECT_EQ(ConfigLock(config, false).GetState(), ConfigLock::State::Held);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"link.cfg"});  // the lock file goes with its holder
    // Without its folder there is nothing to lock (and a save would fail too).
    EXPECT_EQ(ConfigLock(dir.File("none/snv13.cfg"), false).GetState(), ConfigLock::State::Unavailable);
}

}  // namespace
}  // namespace sonvera
