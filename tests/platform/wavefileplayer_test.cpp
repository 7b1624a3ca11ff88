#include <gtest/gtest.h>

#include <sndfile.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "platform/loopbackcard.h"
#include "platform/wavefileplayer.h"
#include "tests/support/tempdir.h"

namespace sonvera {
namespace {

using testing::TempDir;

/// Writes a 16-bit wave file of `frames` frames: a sine of `freq` at `amplitude` on the
/// left (or the only) channel, silence on the right.
void WriteSine(const std::string& path, int channels, int rate, int frames, double freq, double amplitude)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<short> v(static_cast<std::size_t>(frames * channels));
    for (int i = 0; i < frames; ++i) {
        v[static_cast<std::size_t>(i * channels)] =
            static_cast<short>(std::lround(32767.0 * amplitude * std::sin(2 * std::numbers::pi * freq * i / rate)));
    }
    ASSERT_EQ(sf_writef_short(f, v.data(), frames), frames);
    sf_close(f);
}

/// Records `frames` frames of 16-bit stereo at `rate` from the card's input.
std::vector<std::int16_t> Record(LoopbackCard& card, int rate, int frames)
{
    WaveFormat fmt;
    fmt.SamplesPerSec = static_cast<std::uint32_t>(rate);
    fmt.AvgBytesPerSec = fmt.SamplesPerSec * 4;
    std::vector<std::int16_t> data(static_cast<std::size_t>(frames) * 2);
    WaveHeader h;
    h.data = reinterpret_cast<char*>(data.data());
    h.bufferLength = static_cast<std::uint32_t>(data.size() * 2);
    WaveInHandle hi{};
    EXPECT_EQ(card.WaveInOpen(&hi, 0, fmt, [](WaveMessage, WaveHeader*) {}, 0), kMmNoError);
    EXPECT_EQ(card.WaveInPrepareHeader(hi, &h), kMmNoError);
    EXPECT_EQ(card.WaveInAddBuffer(hi, &h), kMmNoError);
    EXPECT_EQ(card.WaveInStart(hi), kMmNoError);
    EXPECT_EQ(card.WaveInReset(hi), kMmNoError);
    EXPECT_EQ(card.WaveInUnprepareHeader(hi, &h), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
    data.resize(h.bytesRecorded / 2);
    return data;
}

/// Amplitude of `freq` in channel `first` of an interleaved block, by direct DFT.
double Amplitude(const std::vector<std::int16_t>& v, int first, double freq, double rate)
{
    double re = 0, im = 0;
    const std::size_t frames = v.size() / 2;
    for (std::size_t n = 0; n < frames; ++n) {
        const double x = v[2 * n + static_cast<std::size_t>(first)] / 32768.0;
        const double w = 2 * std::numbers::pi * freq * static_cast<double>(n) / rate;
        re += x * std::cos(w);
        im -= x * std::sin(w);
    }
    return 2 * std::hypot(re, im) / static_cast<double>(frames);
}

TEST(WaveFilePlayer, LoopsTheFileBeyondItsLengthAndStopSilencesIt)
{
    TempDir dir;
    const std::string path = dir.File("tone.wav");
    WriteSine(path, 2, 44100, 4410, 1000.0, 0.5);  // 0.1 s, a whole number of periods
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    ASSERT_EQ(player.PlayLooped(path, 0), 0) << player.LastError();
    EXPECT_TRUE(player.Playing());
    EXPECT_EQ(player.Rate(), 44100);

    // Three times the file's length: only a looped buffer fills it.
    const auto recorded = Record(card, 44100, 3 * 4410);
    ASSERT_EQ(recorded.size(), 2u * 3 * 4410);
    EXPECT_NEAR(Amplitude(recorded, 0, 1000.0, 44100.0), 0.5, 0.01);
    EXPECT_LT(Amplitude(recorded, 1, 1000.0, 44100.0), 0.001);
    // The last tenth of a second carries the tone as well as the first.
    const std::vector<std::int16_t> tail(recorded.end() - 2 * 4410, recorded.end());
    EXPECT_NEAR(Amplitude(tail, 0, 1000.0, 44100.0), 0.5, 0.01);

    player.Stop();
    EXPECT_FALSE(player.Playing());
    const auto silent = Record(card, 44100, 4410);
    int loudest = 0;
    for (std::int16_t s : silent) {
        loudest = std::max(loudest, std::abs(static_cast<int>(s)));
    }
    EXPECT_EQ(loudest, 0);
}

TEST(WaveFilePlayer, MonoFileFeedsBothChannels)
{
    TempDir dir;
    const std::string path = dir.File("mono.wav");
    WriteSine(path, 1, 8000, 800, 500.0, 0.25);
    std::vector<std::int16_t> samples;
    int rate = 0;
    ASSERT_EQ(WaveFilePlayer::Decode(path, samples, rate), "");
    EXPECT_EQ(rate, 8000);
    ASSERT_EQ(samples.size(), 1600u);
    for (std::size_t i = 0; i < 800; ++i) {
        ASSERT_EQ(samples[2 * i], samples[2 * i + 1]) << i;
    }
    EXPECT_NEAR(Amplitude(samples, 1, 500.0, 8000.0), 0.25, 0.001);
}

TEST(WaveFilePlayer, MissingUnreadableTruncatedAndEmptyFilesGiveOneAndPlayNothing)
{
    TempDir dir;
    const std::string good = dir.File("good.wav");
    WriteSine(good, 2, 44100, 4410, 1000.0, 0.5);
    std::ifstream in(good, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    const std::string truncated = dir.File("truncated.wav");
    std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    const std::string headerOnly = dir.File("header.wav");
    std::ofstream(headerOnly, std::ios::binary) << bytes.substr(0, 30);
    const std::string text = dir.File("text.wav");
    std::ofstream(text) << "this is not a wave file\n";
    const std::string empty = dir.File("empty.wav");
    std::ofstream(empty).flush();

    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    for (const std::string& path : {dir.File("missing.wav"), truncated, headerOnly, text, empty, dir.File("")}) {
        EXPECT_EQ(player.PlayLooped(path, 0), 1) << path;
        EXPECT_FALSE(player.Playing()) << path;
        EXPECT_FALSE(player.LastError().empty()) << path;
    }
    // The device is free afterwards: a good file plays.
    EXPECT_EQ(player.PlayLooped(good, 0), 0) << player.LastError();
}

TEST(WaveFilePlayer, DeviceRefusalGivesOneAndANewFileReplacesTheOldOne)
{
    TempDir dir;
    const std::string a = dir.File("a.wav");
    const std::string b = dir.File("b.wav");
    WriteSine(a, 2, 44100, 4410, 1000.0, 0.5);
    WriteSine(b, 2, 44100, 4410, 2000.0, 0.25);
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
    EXPECT_EQ(player.PlayLooped(a, 0), 1);
    EXPECT_FALSE(player.Playing());
    EXPECT_NE(player.LastError().find("refused"), std::string::npos);

    ASSERT_EQ(player.PlayLooped(a, 0), 0);
    ASSERT_EQ(player.PlayLooped(b, 0), 0);
    const auto recorded = Record(card, 44100, 4410);
    EXPECT_NEAR(Amplitude(recorded, 0, 2000.0, 44100.0), 0.25, 0.01);
    EXPECT_LT(Amplitude(recorded, 0, 1000.0, 44100.0), 0.001);
}

}  // namespace
}  // namespace sonvera
