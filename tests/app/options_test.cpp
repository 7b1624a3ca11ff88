#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/display.h"
#include "app/options.h"

namespace {

sonvera::CommonOptions Parse(std::vector<std::string> args, bool stopAtCommand = false)
{
    args.insert(args.begin(), "prog");
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    return sonvera::ParseCommonOptions(static_cast<int>(argv.size()), argv.data(), stopAtCommand);
}

TEST(CommandLine, CommonOptionsAreTakenInBothSpellingsAndTheRestIsKeptInOrder)
{
    const auto o = Parse({"spectrum", "--config", "a.cfg", "--points", "4096", "--audio=virtual",
                          "--dut", "gain=-3"});
    EXPECT_EQ(o.configPath, "a.cfg");
    EXPECT_EQ(o.audio, "virtual");
    EXPECT_EQ(o.dut, "gain=-3");
    EXPECT_TRUE(o.error.empty());
    EXPECT_EQ(o.rest, (std::vector<std::string>{"spectrum", "--points", "4096"}));
}

TEST(CommandLine, AnOptionWithoutItsValueIsAnError)
{
    const auto o = Parse({"--config"});
    EXPECT_EQ(o.error, "option --config needs a value");
}

TEST(CommandLine, TheSubcommandCursorReadsBothSpellingsAndKeepsTheArgumentAsGiven)
{
    const std::vector<std::string> args{"--from=20", "--to", "2000", "-x=1", "--phase", "--steps"};
    sonvera::OptionCursor c(args);
    ASSERT_TRUE(c.Next());
    EXPECT_EQ(c.Name(), "--from");
    EXPECT_EQ(c.Argument(), "--from=20");
    EXPECT_EQ(c.Take(), "20");
    ASSERT_TRUE(c.Next());
    EXPECT_EQ(c.Name(), "--to");
    EXPECT_EQ(c.Take(), "2000");  // the next argument, used up
    ASSERT_TRUE(c.Next());
    EXPECT_EQ(c.Name(), "-x=1");  // only "--" options carry an "=value"
    ASSERT_TRUE(c.Next());
    EXPECT_EQ(c.Name(), "--phase");
    ASSERT_TRUE(c.Next());
    EXPECT_EQ(c.Name(), "--steps");
    EXPECT_EQ(c.Take(), std::nullopt);
    EXPECT_FALSE(c.Next());
}

TEST(CommandLine, EachOptionTakesItsValueAndTheCommandEndsTheCommonOptions)
{
    const auto o = Parse({"--config", "--version", "plot", "t.txt", "--audio", "virtual"}, true);
    EXPECT_EQ(o.configPath, "--version");
    EXPECT_FALSE(o.version);
    EXPECT_EQ(o.audio, "");
    EXPECT_EQ(o.rest, (std::vector<std::string>{"plot", "t.txt", "--audio", "virtual"}));
    EXPECT_EQ(Parse({"--config="}).error, "option --config needs a value that is not empty");
}

TEST(CommandLine, HelpAndVersionAreRecognised)
{
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_TRUE(Parse({"-h"}).help);
    EXPECT_TRUE(Parse({"--version"}).version);
}

TEST(DisplayCheck, AMissingOrUnreachableDisplayIsReportedAndOffscreenIsAccepted)
{
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::unsetenv("DISPLAY");
    EXPECT_NE(sonvera::NoDisplayReason().find("no display to open"), std::string::npos);
    ::setenv("DISPLAY", ":4711", 1);  // no such X server socket
    EXPECT_NE(sonvera::NoDisplayReason().find(":4711"), std::string::npos);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_EQ(sonvera::NoDisplayReason(), "");
}

}  // namespace
