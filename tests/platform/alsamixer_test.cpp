// A mixer that cannot be opened reports every control as absent; nothing is invented.
// Only controls of one input source count as lines.
#include <gtest/gtest.h>

#include "platform/alsamixer.h"

namespace sonvera {
namespace {

TEST(AlsaMixer, MissingMixerHasNoControls)
{
    AlsaMixer mixer("hw:97");  // no such card
    EXPECT_FALSE(mixer.Valid());
    EXPECT_EQ(mixer.Device(), "hw:97");
    std::uint32_t v = 0x12345678;
    EXPECT_TRUE(mixer.CaptureLines().empty());
    EXPECT_FALSE(mixer.GetCaptureVolume(0, v));
    EXPECT_EQ(v, 0x12345678u);  // untouched
    EXPECT_FALSE(mixer.SetCaptureVolume(0, 0));
}

TEST(AlsaMixer, NonsenseDeviceNameIsRefusedQuietly)
{
    AlsaMixer mixer("no such mixer, really");
    EXPECT_FALSE(mixer.Valid());
    EXPECT_TRUE(mixer.CaptureLines().empty());
}

TEST(AlsaMixer, OnlyControlsOfOneInputSourceAreLines)
{
    struct Case {
        const char* name;
        bool line;
    };
    const Case cases[] = {
        {"Line", true},          {"Mic", true},           {"CD", true},
        {"Aux", true},           {"Video", true},         {"Phone", true},
        {"Front Mic", true},     {"Internal Mic", true},  {"Line-In", true},
        {"mic2", true},          {"Line 2", true},        {"Tuner", true},
        // The recording chain as a whole, boosts and selectors are not lines.
        {"Capture", false},      {"Master Capture", false}, {"Digital", false},
        {"Input Source", false}, {"Capture Source", false}, {"Mic Boost", false},
        {"Front Mic Boost", false}, {"Master", false},    {"PCM", false},
        {"Headphone", false},    {"Microcontroller", false}, {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsInputSourceControl(c.name), c.line) << '"' << c.name << '"';
    }
}

}  // namespace
}  // namespace sonvera
