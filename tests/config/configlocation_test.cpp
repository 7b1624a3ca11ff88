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
    TempDir portable;
    testing::WriteBytes(portable.File("snv13.cfg"), "");
    const std::string none = portable.File("empty");  // a program folder without the file
    const std::string home = "/home/u/.config/sonvera/snv13.cfg";
    const struct {
        std::string option, programDir, xdg, path;
    } cases[] = {
        {"/x/given.cfg", portable.Path().string(), "/cfg", "/x/given.cfg"},
        {"", portable.Path().string(), "/cfg", portable.File("snv13.cfg")},
        {"", none, "/cfg", "/cfg/sonvera/snv13.cfg"},
        {"", none, "<unset>", home},
        {"", none, "", home},
        {"", none, "relative", home},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.xdg);
        const std::map<std::string, std::string> env = {{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", c.xdg}};
        const ConfigLocation at = LocateConfigFile(c.option, c.programDir, [&](const char* name) {
            const std::string& v = env.at(name);
            return v == "<unset>" ? nullptr : v.c_str();
        });
        EXPECT_EQ(at.path, c.path);
        EXPECT_EQ(at.perUser, c.option.empty() && c.programDir == none);
    }
    EXPECT_EQ(ConfigFolder(home), "/home/u/.config/sonvera/");
}

TEST(ConfigLocation, OnlyThePerUserFileGetsItsFoldersMadePrivately)
{
    TempDir home;
    const std::string path = home.File(".config/sonvera/snv13.cfg");
    EXPECT_FALSE(ProfileFile(path).WriteString("A", "K", "1"));
    ProfileFile file(path);
    file.SetCreateFolder(true);
    ASSERT_TRUE(file.WriteString("A", "K", "1"));
    struct stat st {};
    ASSERT_EQ(::stat(home.File(".config").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(ConfigLock, ASecondHolderIsToldUntilTheFirstEnds)
{
    TempDir dir;
    const std::string config = dir.File("snv13.cfg");
    auto first = std::make_unique<ConfigLock>(config, false);
    EXPECT_EQ(first->GetState(), ConfigLock::State::Held);
    std::filesystem::create_symlink("snv13.cfg", dir.File("link.cfg"));  // the same file
    EXPECT_EQ(ConfigLock(dir.File("link.cfg"), false).GetState(), ConfigLock::State::HeldElsewhere);
    first.reset();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"link.cfg"});  // the lock file goes with its holder
    EXPECT_EQ(ConfigLock(config, false).GetState(), ConfigLock::State::Held);
    EXPECT_EQ(ConfigLock(dir.File("none/snv13.cfg"), false).GetState(), ConfigLock::State::Unavailable);
}

}  // namespace
}  // namespace sonvera
