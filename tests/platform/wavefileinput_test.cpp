#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/wavefileinput.h"
#include "tests/support/tempdir.h"

namespace sonvera {
namespace {

using testing::TempDir;

/// Writes interleaved float samples as a 32-bit float wave file.
void WriteFloatWave(const std::string& path, int channels, const std::vector<float>& samples)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const auto frames = static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels));
    ASSERT_EQ(sf_writef_float(f, samples.data(), frames), frames);
    sf_close(f);
}

TEST(WaveFileInput, MonoFeedsBothChannelsAtTheFilesRate)
{
    TempDir dir;
    const std::string path = dir.File("mono.wav");
    WriteFloatWave(path, 1, {0.5f, -0.25f, 0.0f});
    WaveFileInput input;
    ASSERT_EQ(input.Load(path), "");
    EXPECT_EQ(input.Rate(), 48000);
    EXPECT_EQ(input.Samples(), (std::vector<float>{0.5f, 0.5f, -0.25f, -0.25f, 0.0f, 0.0f}));
}

TEST(WaveFileInput, BlocksCarryTheFramesInTheDevicesFormatThenSilence)
{
    TempDir dir;
    const std::string path = dir.File("stereo.wav");
    // Beyond full scale is clamped; exact values land on the nearest step.
    WriteFloatWave(path, 2, {0.5f, -0.5f, 2.0f, -2.0f});
    WaveFileInput input;
    ASSERT_EQ(input.Load(path), "");
    WaveFormat format;  // 16 bits, 2 channels
    std::vector<std::int16_t> block(6, 99);
    input.FillBlock(reinterpret_cast<char*>(block.data()), 12, format);
    EXPECT_EQ(block, (std::vector<std::int16_t>{16384, -16384, 32767, -32768, 0, 0}));

    WaveFileInput eight;
    ASSERT_EQ(eight.Load(path), "");
    format.BitsPerSample = 8;
    format.BlockAlign = 2;
    std::vector<unsigned char> bytes(4, 7);
    eight.FillBlock(reinterpret_cast<char*>(bytes.data()), 4, format);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{192, 64, 255, 0}));
}

TEST(WaveFileInput, SamplesThatAreNoFiniteNumbersAreRefused)
{
    TempDir dir;
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        const std::string path = dir.File("bad.wav");
        WriteFloatWave(path, 2, {0.1f, 0.1f, 0.2f, bad});
        WaveFileInput input;
        const std::string error = input.Load(path);
        EXPECT_EQ(error, path + ": holds samples that are not finite numbers");
        EXPECT_EQ(input.Frames(), 0u);
    }
}

TEST(WaveFileInput, AFileLongerThanTheLimitIsRefusedBeforeItIsRead)
{
    TempDir dir;
    const std::string path = dir.File("long.wav");
    WriteFloatWave(path, 1, std::vector<float>(100, 0.25f));
    WaveFileInput input;
    EXPECT_EQ(input.Load(path, 99), path + ": holds 100 frames, more than the 99 an analysis can use");
    EXPECT_EQ(input.Frames(), 0u);
    EXPECT_EQ(input.Load(path, 100), "");
    EXPECT_EQ(input.Frames(), 100u);
    EXPECT_EQ(WaveFileInput::kMaxFrames, 4096u * 9999u);  // the longest average of the largest transform
}

TEST(WaveFileInput, AFileThatIsNoWaveFileIsRefusedNamingIt)
{
    TempDir dir;
    const std::string path = dir.File("text.wav");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a wave file\n", f);
    std::fclose(f);
    WaveFileInput input;
    const std::string error = input.Load(path);
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
    EXPECT_EQ(input.Frames(), 0u);
}

}  // namespace
}  // namespace sonvera
