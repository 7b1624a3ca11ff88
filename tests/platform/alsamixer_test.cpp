// A mixer that cannot be opened reports every control as absent; nothing is invented.
#include <gtest/gtest.h>

#include "platform/alsamixer.h"

namespace sonvera {
namespace {

TEST(AlsaMixer, MissingMixerHasNoControls)
{
    AlsaMixer mixer("hw:97");  // no such card
    EXPECT_FALSE(mixer.Valid());
    EXPECT_EQ(mixer.Device(), "hw:97");
    EXPECT_FALSE(mixer.HasOutputVolume());
    std::uint32_t v = 0x12345678;
    EXPECT_FALSE(mixer.GetOutputVolume(v));
    EXPECT_EQ(v, 0x12345678u);  // untouched
    EXPECT_FALSE(mixer.SetOutputVolume(0xFFFFFFFF));
    EXPECT_TRUE(mixer.CaptureLines().empty());
    EXPECT_FALSE(mixer.GetCaptureVolume(0, v));
    EXPECT_FALSE(mixer.SetCaptureVolume(0, 0));
}

TEST(AlsaMixer, NonsenseDeviceNameIsRefusedQuietly)
{
    AlsaMixer mixer("no such mixer, really");
    EXPECT_FALSE(mixer.Valid());
    EXPECT_TRUE(mixer.CaptureLines().empty());
}

}  // namespace
}  // namespace sonvera
