// The PortAudio backend without a sound server: the loopback card always takes the
// last device slot and works through it; backend choice. (The real devices are tested
// on the PulseAudio rig, rig/portaudio_rig_test.cpp.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/loopbackcard.h"
#include "platform/portaudiolayer.h"

namespace sonvera {
namespace {

WaveFormat Pcm16()
{
    WaveFormat f;  // 44100 Hz, 16 bits, 2 channels
    return f;
}

TEST(PortAudioLayer, LoopbackFollowsTheRealDevicesButStaysSelectable)
{
    // No, one or two real devices: the loopback card comes after them.
    EXPECT_EQ(LoopbackSlot(0), 0u);
    EXPECT_EQ(LoopbackSlot(1), 1u);
    EXPECT_EQ(LoopbackSlot(2), 2u);
    // More: it takes the last slot the program can select, slot 2.
    EXPECT_EQ(LoopbackSlot(3), 2u);
    EXPECT_EQ(LoopbackSlot(7), 2u);

    // Two real devices: 0, 1 real, 2 loopback, nothing beyond.
    EXPECT_EQ(RealDeviceOfSlot(0, 2), 0);
    EXPECT_EQ(RealDeviceOfSlot(1, 2), 1);
    EXPECT_EQ(RealDeviceOfSlot(2, 2), -1);
    EXPECT_EQ(RealDeviceOfSlot(3, 2), -2);
    // Four real devices: 0, 1 real, 2 loopback, 3 and 4 the third and fourth real ones.
    EXPECT_EQ(RealDeviceOfSlot(1, 4), 1);
    EXPECT_EQ(RealDeviceOfSlot(2, 4), -1);
    EXPECT_EQ(RealDeviceOfSlot(3, 4), 2);
    EXPECT_EQ(RealDeviceOfSlot(4, 4), 3);
    EXPECT_EQ(RealDeviceOfSlot(5, 4), -2);
    // No real device: the loopback card is device 0 and the only one.
    EXPECT_EQ(RealDeviceOfSlot(0, 0), -1);
    EXPECT_EQ(RealDeviceOfSlot(1, 0), -2);
}

TEST(PortAudioLayer, LoopbackTakesASelectableSlotOfEachKind)
{
    std::string error;
    auto layer = PortAudioLayer::Create(DefaultDut(), error);
    ASSERT_NE(layer, nullptr) << error;
    EXPECT_EQ(layer->BackendName(), "portaudio");
    const unsigned ins = layer->WaveInGetNumDevs();
    const unsigned outs = layer->WaveOutGetNumDevs();
    EXPECT_EQ(ins, layer->RealInputCount() + 1);
    EXPECT_EQ(outs, layer->RealOutputCount() + 1);
    EXPECT_EQ(layer->MidiOutGetNumDevs(), 0u);
    WaveInCaps in;
    ASSERT_EQ(layer->WaveInGetDevCaps(LoopbackSlot(layer->RealInputCount()), in), kMmNoError);
    EXPECT_EQ(in.productName, LoopbackCard::kProductName);
    WaveOutCaps out;
    ASSERT_EQ(layer->WaveOutGetDevCaps(LoopbackSlot(layer->RealOutputCount()), out), kMmNoError);
    EXPECT_EQ(out.productName, LoopbackCard::kProductName);
    EXPECT_EQ(layer->WaveInGetDevCaps(ins, in), kMmBadDeviceId);
    EXPECT_EQ(layer->WaveOutGetDevCaps(outs, out), kMmBadDeviceId);
    WaveInHandle hi{};
    EXPECT_EQ(layer->WaveInOpen(&hi, ins, Pcm16(), nullptr, 0), kMmBadDeviceId);
    EXPECT_EQ(layer->WaveInStart(static_cast<WaveInHandle>(12345)), kMmInvalidHandle);
    EXPECT_EQ(layer->WaveOutClose(static_cast<WaveOutHandle>(0)), kMmInvalidHandle);
    std::uint32_t v = 0;
    EXPECT_EQ(layer->WaveOutGetVolume(outs, v), kMmBadDeviceId);
    EXPECT_EQ(layer->AuxGetVolume(layer->AuxGetNumDevs(), v), kMmBadDeviceId);
}

TEST(PortAudioLayer, PlaysAndRecordsThroughTheLoopbackSlot)
{
    std::string error;
    auto layer = PortAudioLayer::Create(DutConfig{}, error);
    ASSERT_NE(layer, nullptr) << error;
    const unsigned inSlot = layer->WaveInGetNumDevs() - 1;
    const unsigned outSlot = layer->WaveOutGetNumDevs() - 1;

    // A 100-frame ramp on both channels, looped.
    std::vector<char> tone(100 * 4);
    for (int f = 0; f < 100; ++f) {
        const auto s = static_cast<std::int16_t>(300 * f - 15000);
        std::memcpy(tone.data() + 4 * f, &s, 2);
        std::memcpy(tone.data() + 4 * f + 2, &s, 2);
    }
    WaveOutHandle ho{};
    ASSERT_EQ(layer->WaveOutOpen(nullptr, outSlot, Pcm16(), nullptr, kWaveOpenQuery), kMmNoError);
    ASSERT_EQ(layer->WaveOutOpen(&ho, outSlot, Pcm16(), nullptr, 0), kMmNoError);
    WaveHeader out;
    out.data = tone.data();
    out.bufferLength = static_cast<std::uint32_t>(tone.size());
    ASSERT_EQ(layer->WaveOutPrepareHeader(ho, &out), kMmNoError);
    out.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    out.loops = 1000000;
    ASSERT_EQ(layer->WaveOutWrite(ho, &out), kMmNoError);

    std::mutex mutex;
    int posted = 0;
    WaveInHandle hi{};
    ASSERT_EQ(layer->WaveInOpen(&hi, inSlot, Pcm16(),
                                [&](WaveMessage m, WaveHeader*) {
                                    std::lock_guard lock(mutex);
                                    posted += m == WaveMessage::InData ? 1 : 0;
                                },
                                0),
              kMmNoError);
    std::vector<char> data(441 * 4);
    WaveHeader in;
    in.data = data.data();
    in.bufferLength = static_cast<std::uint32_t>(data.size());
    ASSERT_EQ(layer->WaveInPrepareHeader(hi, &in), kMmNoError);
    ASSERT_EQ(layer->WaveInAddBuffer(hi, &in), kMmNoError);
    ASSERT_EQ(layer->WaveInStart(hi), kMmNoError);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(mutex);
            if (posted > 0) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(posted, 1);
    }
    ASSERT_EQ(in.bytesRecorded, 441u * 4);
    // The recording starts somewhere in the loop; from there it follows the loop exactly.
    std::int16_t first;
    std::memcpy(&first, data.data(), 2);
    const int offset = (first + 15000) / 300;
    ASSERT_EQ(300 * offset - 15000, first);
    for (int f = 0; f < 441; ++f) {
        std::int16_t left;
        std::memcpy(&left, data.data() + 4 * f, 2);
        ASSERT_EQ(left, 300 * ((offset + f) % 100) - 15000) << f;
    }
    EXPECT_EQ(layer->WaveInUnprepareHeader(hi, &in), kMmNoError);
    EXPECT_EQ(layer->WaveInReset(hi), kMmNoError);
    EXPECT_EQ(layer->WaveInClose(hi), kMmNoError);
    EXPECT_EQ(layer->WaveOutReset(ho), kMmNoError);
    EXPECT_EQ(layer->WaveOutUnprepareHeader(ho, &out), kMmNoError);
    EXPECT_EQ(layer->WaveOutClose(ho), kMmNoError);
}

TEST(CreateWaveLayer, VirtualIsTheLoopbackCardAlone)
{
    std::string error = "stale";
    auto layer = CreateWaveLayer(AudioBackend::Virtual, DefaultDut(), error);
    ASSERT_NE(layer, nullptr);
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(layer->BackendName(), "virtual");
    EXPECT_EQ(layer->WaveInGetNumDevs(), 1u);
    EXPECT_EQ(layer->WaveOutGetNumDevs(), 1u);
    EXPECT_EQ(layer->AuxGetNumDevs(), 3u);
}

TEST(CreateWaveLayer, AutoUsesPortAudioOnlyWhenItFindsRealDevices)
{
    std::string error;
    auto layer = CreateWaveLayer(AudioBackend::Auto, DefaultDut(), error);
    ASSERT_NE(layer, nullptr) << error;
    EXPECT_TRUE(error.empty());
    if (layer->BackendName() == "portaudio") {
        auto* pa = dynamic_cast<PortAudioLayer*>(layer.get());
        ASSERT_NE(pa, nullptr);
        EXPECT_GT(pa->RealInputCount() + pa->RealOutputCount(), 0u);
    } else {
        EXPECT_EQ(layer->BackendName(), "virtual");
        WaveInCaps caps;
        ASSERT_EQ(layer->WaveInGetDevCaps(0, caps), kMmNoError);
        EXPECT_EQ(caps.productName, LoopbackCard::kProductName);  // slot 0 without real devices
    }
    auto explicitPa = CreateWaveLayer(AudioBackend::PortAudio, DefaultDut(), error);
    ASSERT_NE(explicitPa, nullptr) << error;
    EXPECT_EQ(explicitPa->BackendName(), "portaudio");
}

}  // namespace
}  // namespace sonvera
