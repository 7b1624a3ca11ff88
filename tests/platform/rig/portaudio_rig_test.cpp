// The PortAudio backend on a real sound server: a private PulseAudio daemon with a null
// sink (started by the ctest fixture pulse_rig), recorded from the sink's monitor.
// Skipped, with the reason, where pulseaudio is missing or the rig is not up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "platform/loopbackcard.h"
#include "platform/portaudiolayer.h"

namespace sonvera {
namespace {

constexpr double kPi = std::numbers::pi;

bool PulseAudioInstalled()
{
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= rest.size()) {
        const std::size_t colon = rest.find(':', start);
        const std::string dir = rest.substr(start, colon - start);
        if (!dir.empty() && std::filesystem::exists(dir + "/pulseaudio")) {
            return true;
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    return false;
}

// Empty when the rig can be used, else why not.
std::string RigProblem()
{
    if (!PulseAudioInstalled()) {
        return "pulseaudio is not installed (scripts/install-deps.sh installs it)";
    }
    const char* dir = std::getenv("SONVERA_PULSE_RIG");
    if (dir == nullptr || !std::filesystem::exists(std::string(dir) + "/up")) {
        return "the PulseAudio rig is not up (run through ctest, which starts the fixture "
               "pulse_rig; see its output for why it did not start)";
    }
    return "";
}

WaveFormat Pcm16(std::uint32_t rate)
{
    WaveFormat f;
    f.SamplesPerSec = rate;
    f.BitsPerSample = 16;
    f.Channels = 2;
    f.BlockAlign = 4;
    f.AvgBytesPerSec = 4 * rate;
    return f;
}

struct Inbox {
    std::mutex mutex;
    std::vector<WaveHeader*> headers;
    WavePost Post()
    {
        return [this](WaveMessage, WaveHeader* h) {
            std::lock_guard lock(mutex);
            headers.push_back(h);
        };
    }
    std::size_t Count()
    {
        std::lock_guard lock(mutex);
        return headers.size();
    }
    bool WaitFor(std::size_t n, std::chrono::seconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (Count() < n && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return Count() >= n;
    }
};

// Window-weighted amplitude of the component at `freqHz` (Hann window, gain corrected).
double HannAmplitude(const std::vector<double>& x, double freqHz, double rateHz)
{
    std::complex<double> sum = 0.0;
    const auto n = static_cast<double>(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / n);
        sum += w * x[i] * std::polar(1.0, -2.0 * kPi * freqHz * static_cast<double>(i) / rateHz);
    }
    return 4.0 * std::abs(sum) / n;
}

class PortAudioRig : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string problem = RigProblem();
        if (!problem.empty()) {
            GTEST_SKIP() << problem;
        }
        std::string error;
        layer_ = PortAudioLayer::Create(DutConfig{}, error);
        ASSERT_NE(layer_, nullptr) << error;
        ASSERT_GE(layer_->RealOutputCount(), 1u) << "PortAudio sees no output device on the rig";
        ASSERT_GE(layer_->RealInputCount(), 1u) << "PortAudio sees no input device on the rig";
    }

    // Records `blocks` blocks of `frames` frames from input device 0, one open-start-
    // close cycle each, as the engine does; returns the left channel of each block.
    std::vector<std::vector<double>> RecordBlocks(int blocks, std::uint32_t frames, Inbox& inbox)
    {
        std::vector<char> data(frames * 4);
        WaveHeader h;
        std::vector<std::vector<double>> lefts;
        for (int b = 0; b < blocks; ++b) {
            WaveInHandle hi{};
            EXPECT_EQ(layer_->WaveInOpen(nullptr, 0, Pcm16(44100), nullptr, kWaveOpenQuery), kMmNoError);
            EXPECT_EQ(layer_->WaveInOpen(&hi, 0, Pcm16(44100), inbox.Post(), 0), kMmNoError);
            h = WaveHeader{};
            h.data = data.data();
            h.bufferLength = frames * 4;
            EXPECT_EQ(layer_->WaveInPrepareHeader(hi, &h), kMmNoError);
            EXPECT_EQ(layer_->WaveInAddBuffer(hi, &h), kMmNoError);
            const std::size_t before = inbox.Count();
            EXPECT_EQ(layer_->WaveInStart(hi), kMmNoError);
            EXPECT_TRUE(inbox.WaitFor(before + 1, std::chrono::seconds(10))) << "no completion";
            EXPECT_EQ(h.bytesRecorded, frames * 4);
            EXPECT_EQ(layer_->WaveInUnprepareHeader(hi, &h), kMmNoError);
            EXPECT_EQ(layer_->WaveInReset(hi), kMmNoError);
            EXPECT_EQ(layer_->WaveInClose(hi), kMmNoError);
            std::vector<double> left;
            for (std::uint32_t f = 0; f < frames; ++f) {
                std::int16_t v;
                std::memcpy(&v, data.data() + 4 * f, 2);
                left.push_back(v / 32768.0);
            }
            lefts.push_back(std::move(left));
        }
        return lefts;
    }

    std::unique_ptr<PortAudioLayer> layer_;
};

TEST_F(PortAudioRig, ListsTheServerDevicesDefaultFirstAndTheLoopbackAfterThem)
{
    const unsigned outs = layer_->WaveOutGetNumDevs();
    const unsigned ins = layer_->WaveInGetNumDevs();
    EXPECT_EQ(outs, layer_->RealOutputCount() + 1);
    EXPECT_EQ(ins, layer_->RealInputCount() + 1);
    WaveOutCaps out;
    ASSERT_EQ(layer_->WaveOutGetDevCaps(0, out), kMmNoError);
    EXPECT_EQ(out.productName, "default");
    EXPECT_NE(out.formats & kFormat4S16, 0u) << std::hex << out.formats;
    EXPECT_EQ(out.channels, 2);
    bool pulseListed = false;
    for (unsigned i = 0; i < outs; ++i) {
        ASSERT_EQ(layer_->WaveOutGetDevCaps(i, out), kMmNoError);
        pulseListed = pulseListed || out.productName == "pulse";
    }
    EXPECT_TRUE(pulseListed) << "the ALSA \"pulse\" device is missing (libasound2-plugins?)";
    ASSERT_EQ(layer_->WaveOutGetDevCaps(LoopbackSlot(layer_->RealOutputCount()), out), kMmNoError);
    EXPECT_EQ(out.productName, LoopbackCard::kProductName);
    WaveInCaps in;
    ASSERT_EQ(layer_->WaveInGetDevCaps(LoopbackSlot(layer_->RealInputCount()), in), kMmNoError);
    EXPECT_EQ(in.productName, LoopbackCard::kProductName);
    ASSERT_EQ(layer_->WaveInGetDevCaps(0, in), kMmNoError);
    EXPECT_NE(in.formats & kFormat4S16, 0u);
    EXPECT_EQ(layer_->WaveInGetDevCaps(ins, in), kMmBadDeviceId);
}

// What the sound server says of the null sink's volume ("Volume: front-left: ...").
std::string SinkVolume()
{
    char line[512] = "";
    if (FILE* p = ::popen("pactl get-sink-volume sonvera_test 2>&1", "r")) {
        if (std::fgets(line, sizeof line, p) == nullptr) {
            line[0] = '\0';
        }
        ::pclose(p);
    }
    return line;
}

TEST_F(PortAudioRig, SineComesBackFromTheMonitorScaledByTheOutputGainAndTheSinkKeepsItsVolume)
{
    const std::string sinkBefore = SinkVolume();
    ASSERT_NE(sinkBefore.find("Volume:"), std::string::npos) << "pactl: " << sinkBefore;
    const double rate = 44100.0;
    // 1 kHz at -6 dBFS, 441 frames = 10 periods, looped.
    std::vector<char> tone(441 * 4);
    for (int f = 0; f < 441; ++f) {
        const auto v = static_cast<std::int16_t>(std::lround(16384.0 * std::sin(2.0 * kPi * 1000.0 * f / rate)));
        std::memcpy(tone.data() + 4 * f, &v, 2);
        std::memcpy(tone.data() + 4 * f + 2, &v, 2);
    }
    // The wave-out volume is a gain on the samples: halves of 0x4000 are 16384/65535.
    const double gainDb = 20.0 * std::log10(16384.0 / 65535.0);
    ASSERT_EQ(layer_->WaveOutSetVolume(0, PackVolume(0x4000, 0x4000)), kMmNoError);
    std::uint32_t volume = 0;
    ASSERT_EQ(layer_->WaveOutGetVolume(0, volume), kMmNoError);
    EXPECT_EQ(volume, PackVolume(0x4000, 0x4000));
    Inbox played;
    WaveOutHandle ho{};
    ASSERT_EQ(layer_->WaveOutOpen(nullptr, 0, Pcm16(44100), nullptr, kWaveOpenQuery), kMmNoError);
    ASSERT_EQ(layer_->WaveOutOpen(&ho, 0, Pcm16(44100), played.Post(), 0), kMmNoError);
    WaveHeader out;
    out.data = tone.data();
    out.bufferLength = static_cast<std::uint32_t>(tone.size());
    ASSERT_EQ(layer_->WaveOutPrepareHeader(ho, &out), kMmNoError);
    out.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    out.loops = 1000000;
    ASSERT_EQ(layer_->WaveOutWrite(ho, &out), kMmNoError);

    Inbox recorded;
    // Let the sound server's latency pass, then measure the last blocks; the median of
    // their levels keeps a dropout of a busy machine from deciding the result.
    const auto blocks = RecordBlocks(10, 8192, recorded);
    EXPECT_EQ(recorded.Count(), 10u);
    EXPECT_EQ(played.Count(), 0u);  // still looping
    std::vector<std::pair<double, std::size_t>> levels;
    for (std::size_t b = blocks.size() - 5; b < blocks.size(); ++b) {
        levels.emplace_back(20.0 * std::log10(HannAmplitude(blocks[b], 1000.0, rate)), b);
    }
    std::sort(levels.begin(), levels.end());
    const double levelDb = levels[2].first;
    const std::vector<double>& left = blocks[levels[2].second];

    ASSERT_EQ(layer_->WaveOutReset(ho), kMmNoError);
    EXPECT_TRUE(played.WaitFor(1, std::chrono::seconds(5)));  // posted, as from a device
    EXPECT_EQ(played.Count(), 1u);
    EXPECT_TRUE(out.flags & kWhdrDone);
    ASSERT_EQ(layer_->WaveOutUnprepareHeader(ho, &out), kMmNoError);
    ASSERT_EQ(layer_->WaveOutClose(ho), kMmNoError);
    EXPECT_EQ(SinkVolume(), sinkBefore);

    // Frequency: the strongest component between 900 and 1100 Hz, on a 1 Hz grid.
    double bestF = 0.0;
    double bestA = 0.0;
    for (double f = 900.0; f <= 1100.0; f += 1.0) {
        const double a = HannAmplitude(left, f, rate);
        if (a > bestA) {
            bestA = a;
            bestF = f;
        }
    }
    EXPECT_NEAR(bestF, 1000.0, 1.0);
    EXPECT_NEAR(levelDb, 20.0 * std::log10(0.5) + gainDb, 0.5) << "sent -6.02 dBFS at a gain of -12.04 dB";
    std::printf("sent 1000 Hz at -6.02 dBFS with a gain of %.2f dB, recorded %.0f Hz at %.3f dBFS (median of 5"
                " blocks; lowest %.3f, highest %.3f); sink: %s", gainDb, bestF, levelDb, levels.front().first,
                levels.back().first, sinkBefore.c_str());
}

TEST_F(PortAudioRig, ResetHandsBackAnUnfinishedBufferAndTheStreamIsReused)
{
    Inbox inbox;
    WaveInHandle hi{};
    ASSERT_EQ(layer_->WaveInOpen(&hi, 0, Pcm16(44100), inbox.Post(), 0), kMmNoError);
    std::vector<char> data(44100 * 4 * 20);  // 20 s: does not fill during the test
    WaveHeader h;
    h.data = data.data();
    h.bufferLength = static_cast<std::uint32_t>(data.size());
    ASSERT_EQ(layer_->WaveInPrepareHeader(hi, &h), kMmNoError);
    ASSERT_EQ(layer_->WaveInAddBuffer(hi, &h), kMmNoError);
    ASSERT_EQ(layer_->WaveInStart(hi), kMmNoError);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(layer_->WaveInClose(hi), kWaveStillPlaying);
    EXPECT_EQ(layer_->WaveInUnprepareHeader(hi, &h), kWaveStillPlaying);
    ASSERT_EQ(layer_->WaveInReset(hi), kMmNoError);
    EXPECT_TRUE(inbox.WaitFor(1, std::chrono::seconds(5)));
    EXPECT_EQ(inbox.Count(), 1u);
    EXPECT_LT(h.bytesRecorded, h.bufferLength);
    EXPECT_EQ(h.bytesRecorded % 4, 0u);
    EXPECT_FALSE(h.flags & kWhdrInQueue);
    ASSERT_EQ(layer_->WaveInUnprepareHeader(hi, &h), kMmNoError);
    ASSERT_EQ(layer_->WaveInClose(hi), kMmNoError);
    // A second device handle cannot be opened while one is attached; after closing it can.
    WaveInHandle again{};
    ASSERT_EQ(layer_->WaveInOpen(&again, 0, Pcm16(44100), inbox.Post(), 0), kMmNoError);
    WaveInHandle third{};
    EXPECT_EQ(layer_->WaveInOpen(&third, 0, Pcm16(44100), nullptr, 0), kMmAllocated);
    EXPECT_EQ(layer_->WaveInClose(again), kMmNoError);
    EXPECT_EQ(layer_->OpenStreamCount(), 1u);  // closing detached; the stream goes on
    // A different format replaces the stream.
    WaveInHandle other{};
    ASSERT_EQ(layer_->WaveInOpen(&other, 0, Pcm16(48000), inbox.Post(), 0), kMmNoError);
    EXPECT_EQ(layer_->OpenStreamCount(), 1u);
    EXPECT_EQ(layer_->WaveInClose(other), kMmNoError);
}

TEST_F(PortAudioRig, IdleStreamClosesAfterAFewSecondsAndReopensOnDemand)
{
    WaveInHandle hi{};
    ASSERT_EQ(layer_->WaveInOpen(&hi, 0, Pcm16(44100), nullptr, 0), kMmNoError);
    ASSERT_EQ(layer_->WaveInClose(hi), kMmNoError);
    EXPECT_EQ(layer_->OpenStreamCount(), 1u);
    const auto limit = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<int>(PortAudioLayer::kIdleCloseSeconds * 1000) + 5000);
    while (layer_->OpenStreamCount() > 0 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(layer_->OpenStreamCount(), 0u);
    Inbox inbox;
    const auto blocks = RecordBlocks(1, 1024, inbox);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].size(), 1024u);
    EXPECT_EQ(inbox.Count(), 1u);
}

TEST_F(PortAudioRig, TheServersRecordingVolumeIsNoInputLine)
{
    // The server's mixer has "Master" and "Capture" only: the whole output and the whole
    // recording chain, neither of them an input line the program may write.
    EXPECT_EQ(layer_->AuxGetNumDevs(), 0u);
    std::uint32_t v = 0;
    EXPECT_EQ(layer_->AuxGetVolume(0, v), kMmBadDeviceId);
}

}  // namespace
}  // namespace sonvera
