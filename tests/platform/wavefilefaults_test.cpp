// The generator's user wave file and the analysis input when their headers lie: a data chunk that claims more
// (or less) than the file holds, wrong RIFF sizes, impossible formats, a file cut in
// the middle of a frame. Every file either plays exactly the frames it really holds or
// is refused with a message; nothing plays half, and the device stays usable.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "platform/loopbackcard.h"
#include "platform/wavefileinput.h"
#include "platform/wavefileplayer.h"
#include "tests/support/tempdir.h"

namespace sonvera {
namespace {

using testing::TempDir;

void Put16(std::string& s, std::uint16_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void Put32(std::string& s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
}

/// A 16-bit PCM wave file written byte by byte, with every size field chosen freely.
struct WaveBytes {
    std::uint16_t channels = 2;
    std::uint32_t rate = 8000;
    std::uint16_t bits = 16;
    std::uint16_t blockAlign = 4;
    std::uint32_t frames = 400;          // frames really written
    std::int64_t riffSize = -1;          // -1: the true size
    std::int64_t dataSize = -1;          // -1: the true size
    std::size_t extraBytes = 0;          // bytes after the frames (a cut frame when < 4)

    /// Sample of frame i, channel c.
    static std::int16_t Sample(std::uint32_t i, int c)
    {
        return static_cast<std::int16_t>((static_cast<int>(i) * 37 + c * 1000) % 20000 - 10000);
    }

    std::string Build() const
    {
        std::string data;
        for (std::uint32_t i = 0; i < frames; ++i) {
            for (int c = 0; c < channels; ++c) {
                Put16(data, static_cast<std::uint16_t>(Sample(i, c)));
            }
        }
        data.append(extraBytes, '\x11');
        std::string fmt;
        Put16(fmt, 1);
        Put16(fmt, channels);
        Put32(fmt, rate);
        Put32(fmt, rate * blockAlign);
        Put16(fmt, blockAlign);
        Put16(fmt, bits);
        std::string body = "WAVE";
        body += "fmt ";
        Put32(body, static_cast<std::uint32_t>(fmt.size()));
        body += fmt;
        body += "data";
        Put32(body, dataSize >= 0 ? static_cast<std::uint32_t>(dataSize) : static_cast<std::uint32_t>(data.size()));
        body += data;
        std::string file = "RIFF";
        Put32(file, riffSize >= 0 ? static_cast<std::uint32_t>(riffSize) : static_cast<std::uint32_t>(body.size()));
        return file + body;
    }
};

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& bytes)
{
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

/// The player decoded exactly the first `frames` frames of the file (both channels).
void ExpectFrames(const WaveFilePlayer& player, std::uint32_t frames, int channels)
{
    const std::vector<std::int16_t>& s = player.Samples();
    ASSERT_EQ(s.size(), 2u * frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::int16_t left = WaveBytes::Sample(i, 0);
        ASSERT_EQ(s[2 * i], left) << i;
        ASSERT_EQ(s[2 * i + 1], channels == 2 ? WaveBytes::Sample(i, 1) : left) << i;
    }
}

TEST(WaveFileFaults, AnHonestFileBuiltByHandPlaysItsFrames)
{
    TempDir dir;
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    const std::string path = WriteFile(dir, "honest.wav", WaveBytes{}.Build());
    ASSERT_EQ(player.PlayLooped(path, 0), 0) << player.LastError();
    EXPECT_EQ(player.Rate(), 8000);
    ExpectFrames(player, 400, 2);
    player.Stop();
}

TEST(WaveFileFaults, AUserWaveFileThatIsNoRegularFileIsRefusedWithoutWaiting)
{
    TempDir dir;
    const std::string fifo = dir.File("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // nobody writes: a reader that waits would hang
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.Path().string()}) {
        EXPECT_EQ(player.PlayLooped(path, 0), 1);
        EXPECT_EQ(player.LastError(), path + ": not a regular file");
    }
}

TEST(WaveFileFaults, ADataChunkClaimingMoreThanTheFileHoldsIsRefusedAsTruncated)
{
    TempDir dir;
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    for (std::int64_t claimed : {1604LL, 4000LL, 0x7FFFFFF0LL, 0xFFFFFFF0LL}) {
        SCOPED_TRACE(claimed);
        WaveBytes w;
        w.dataSize = claimed;
        const std::string path = WriteFile(dir, "long.wav", w.Build());
        EXPECT_EQ(player.PlayLooped(path, 0), 1);
        EXPECT_FALSE(player.Playing());
        EXPECT_EQ(player.LastError(), path + ": the file is truncated or damaged");
    }
    // The device is still free for a good file.
    const std::string good = WriteFile(dir, "good.wav", WaveBytes{}.Build());
    EXPECT_EQ(player.PlayLooped(good, 0), 0) << player.LastError();
}

TEST(WaveFileFaults, ADataChunkClaimingLessPlaysOnlyTheClaimedFrames)
{
    TempDir dir;
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    WaveBytes w;
    w.dataSize = 100 * 4;  // 100 of the 400 frames
    w.riffSize = -1;
    const std::string path = WriteFile(dir, "short.wav", w.Build());
    ASSERT_EQ(player.PlayLooped(path, 0), 0) << player.LastError();
    ExpectFrames(player, 100, 2);
    player.Stop();
}

TEST(WaveFileFaults, WrongRiffSizesDoNotChangeTheFrames)
{
    TempDir dir;
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    for (std::int64_t riff : {0LL, 12LL, 999999LL, 0xFFFFFFFFLL}) {
        SCOPED_TRACE(riff);
        WaveBytes w;
        w.riffSize = riff;
        const std::string path = WriteFile(dir, "riff.wav", w.Build());
        const int r = player.PlayLooped(path, 0);
        if (r == 0) {
            ExpectFrames(player, 400, 2);
        } else {
            EXPECT_FALSE(player.LastError().empty());
            EXPECT_FALSE(player.Playing());
        }
        player.Stop();
    }
}

TEST(WaveFileFaults, AFileCutInsideAFrameIsRefusedOrPlaysOnlyItsWholeFrames)
{
    TempDir dir;
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    for (std::size_t extra : {1u, 2u, 3u}) {
        SCOPED_TRACE(extra);
        WaveBytes w;
        w.extraBytes = extra;
        const std::string path = WriteFile(dir, "cut.wav", w.Build());
        const int r = player.PlayLooped(path, 0);
        if (r == 0) {
            ExpectFrames(player, 400, 2);  // never a frame made of the stray bytes
        } else {
            EXPECT_EQ(player.LastError(), path + ": the file is truncated or damaged");
        }
        player.Stop();
    }
}

TEST(WaveFileFaults, ImpossibleFormatsAreRefusedWithAMessage)
{
    TempDir dir;
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    WaveFilePlayer player(card);
    struct Case {
        const char* name;
        WaveBytes w;
    };
    std::vector<Case> cases;
    {
        WaveBytes w;
        w.channels = 0;
        cases.push_back({"no channels", w});
    }
    {
        WaveBytes w;
        w.rate = 0;
        cases.push_back({"rate 0", w});
    }
    {
        WaveBytes w;
        w.rate = 500;  // below what a device plays
        cases.push_back({"rate 500", w});
    }
    {
        WaveBytes w;
        w.channels = 6;
        w.blockAlign = 12;
        cases.push_back({"six channels", w});
    }
    {
        WaveBytes w;
        w.dataSize = 0;
        w.frames = 0;
        cases.push_back({"no frames", w});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteFile(dir, "bad.wav", c.w.Build());
        EXPECT_EQ(player.PlayLooped(path, 0), 1);
        EXPECT_FALSE(player.Playing());
        EXPECT_EQ(player.LastError().rfind(path + ": ", 0), 0u) << player.LastError();
    }
}

// ---- The same files as the input of an analysis (sonvera-cli spectrum --input) -----------

/// The input holds exactly the first `frames` frames of the file, full scale 1.0.
void ExpectInputFrames(const WaveFileInput& input, std::uint32_t frames)
{
    const std::vector<float>& s = input.Samples();
    ASSERT_EQ(s.size(), 2u * frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        ASSERT_FLOAT_EQ(s[2 * i], WaveBytes::Sample(i, 0) / 32768.0f) << i;
        ASSERT_FLOAT_EQ(s[2 * i + 1], WaveBytes::Sample(i, 1) / 32768.0f) << i;
    }
}

TEST(WaveFileInputFaults, HonestAndShortClaimingFilesGiveExactlyTheirFrames)
{
    TempDir dir;
    WaveFileInput input;
    ASSERT_EQ(input.Load(WriteFile(dir, "honest.wav", WaveBytes{}.Build())), "");
    EXPECT_EQ(input.Rate(), 8000);
    ExpectInputFrames(input, 400);

    WaveBytes w;
    w.dataSize = 100 * 4;
    ASSERT_EQ(input.Load(WriteFile(dir, "short.wav", w.Build())), "");
    ExpectInputFrames(input, 100);
}

TEST(WaveFileInputFaults, ADataChunkClaimingMoreThanTheFileHoldsIsRefusedAsTruncated)
{
    TempDir dir;
    WaveFileInput input;
    for (std::int64_t claimed : {1604LL, 4000LL, 0x7FFFFFF0LL, 0xFFFFFFF0LL}) {
        SCOPED_TRACE(claimed);
        WaveBytes w;
        w.dataSize = claimed;
        const std::string path = WriteFile(dir, "long.wav", w.Build());
        // Analysing the frames that are there would pass a damaged file off as whole.
        EXPECT_EQ(input.Load(path), path + ": the file is truncated or damaged");
        EXPECT_EQ(input.Frames(), 0u);
    }
    // A file cut short by copying (its header intact) is the same case.
    const std::string whole = WaveBytes{}.Build();
    const std::string path = WriteFile(dir, "cut.wav", whole.substr(0, whole.size() / 2));
    EXPECT_EQ(input.Load(path), path + ": the file is truncated or damaged");
    EXPECT_EQ(input.Frames(), 0u);
}

TEST(WaveFileInputFaults, ImpossibleFormatsAndStrayBytesNeverGiveInventedFrames)
{
    TempDir dir;
    WaveFileInput input;
    for (std::size_t extra : {1u, 2u, 3u}) {
        SCOPED_TRACE(extra);
        WaveBytes w;
        w.extraBytes = extra;
        const std::string path = WriteFile(dir, "stray.wav", w.Build());
        const std::string error = input.Load(path);
        if (error.empty()) {
            ExpectInputFrames(input, 400);
        } else {
            EXPECT_EQ(error, path + ": the file is truncated or damaged");
        }
    }
    WaveBytes noChannels;
    noChannels.channels = 0;
    WaveBytes noRate;
    noRate.rate = 0;
    WaveBytes six;
    six.channels = 6;
    six.blockAlign = 12;
    for (const WaveBytes& w : {noChannels, noRate, six}) {
        const std::string path = WriteFile(dir, "bad.wav", w.Build());
        const std::string error = input.Load(path);
        EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
        EXPECT_EQ(input.Frames(), 0u);
    }
}

}  // namespace
}  // namespace sonvera
