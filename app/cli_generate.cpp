// sonvera-cli generate: the generator's output as a wave file. The playback engine
// fills its one buffer on a virtual card exactly as it would for a real device, and
// that buffer is written repeated to the duration, as the device would loop it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <sndfile.h>

#include "app/cli.h"
#include "app/options.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "dsp/analysis.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"

namespace sonvera {

namespace {

const char* const kGenerateUsage =
    "Usage: sonvera-cli generate --wave sin|sqr|white|pink [--freq HZ] [--level-l DB] [--level-r DB]\n"
    "         [--phase-l DEG] [--phase-r DEG] [--rate HZ] [--bits 8|16|24] --seconds S --out FILE.wav\n";

/// Longest file the command writes, seconds.
constexpr double kMaxSeconds = 3600.0;

struct GenerateOptions {
    std::optional<int> waveform;
    int freq = 1000;
    int levelL = 0, levelR = 0, phaseL = 0, phaseR = 0;
    int rate = 44100;
    int bits = 16;
    std::optional<double> seconds;
    std::string out;
};

std::string ParseGenerateOptions(const std::vector<std::string>& args, GenerateOptions& o)
{
    OptionCursor cursor(args);
    while (cursor.Next()) {
        const std::string& name = cursor.Name();
        auto take = [&] { return cursor.Take(); };
        auto integer = [&](int& target, int lo, int hi) -> std::string {
            const auto v = take();
            int n = 0;
            if (!v || !ParseDialogInteger(*v, n) || n < lo || n > hi) {
                return name + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
            }
            target = n;
            return "";
        };
        std::string error;
        if (name == "--wave") {
            const auto v = take();
            const char* names[] = {"sin", "sqr", "white", "pink"};
            for (int k = 0; k < 4 && v; ++k) {
                if (*v == names[k]) {
                    o.waveform = k;
                }
            }
            if (!o.waveform) {
                error = "--wave must be sin, sqr, white or pink";
            }
        } else if (name == "--freq") {
            error = integer(o.freq, 1, 100000);
        } else if (name == "--level-l") {
            error = integer(o.levelL, -100, 0);
        } else if (name == "--level-r") {
            error = integer(o.levelR, -100, 0);
        } else if (name == "--phase-l") {
            error = integer(o.phaseL, -100000, 100000);
        } else if (name == "--phase-r") {
            error = integer(o.phaseR, -100000, 100000);
        } else if (name == "--rate") {
            error = integer(o.rate, 1000, 200000);
        } else if (name == "--bits") {
            error = integer(o.bits, 8, 24);
            if (error.empty() && o.bits != 8 && o.bits != 16 && o.bits != 24) {
                error = "--bits must be 8, 16 or 24";
            }
        } else if (name == "--seconds") {
            const auto v = take();
            const auto parsed = v ? ParseReal(*v) : std::nullopt;
            if (!parsed || !(*parsed > 0.0) || *parsed > kMaxSeconds) {
                error = "--seconds needs a duration above 0 and at most 3600";
            } else {
                o.seconds = *parsed;
            }
        } else if (name == "--out") {
            const auto v = take();
            if (!v || v->empty()) {
                error = "--out needs a file name";
            } else {
                o.out = *v;
            }
        } else {
            error = "unknown option '" + cursor.Argument() + "'";
        }
        if (!error.empty()) {
            return error;
        }
    }
    if (!o.waveform) {
        return "--wave is required";
    }
    if (!o.seconds) {
        return "--seconds is required";
    }
    if (o.out.empty()) {
        return "--out is required";
    }
    if (*o.waveform <= kWaveSquare && o.freq > o.rate / 2) {
        return "--freq must be at most half the rate (" + std::to_string(o.rate / 2) + " Hz)";
    }
    return "";
}

/// One frame of the engine's buffer as the integers libsndfile writes.
void ReadFrame(const char* frame, int bits, int (&out)[2])
{
    for (int c = 0; c < 2; ++c) {
        if (bits == 8) {
            // Unsigned 8-bit, silence 128, as a 32-bit value whose top byte is the sample.
            const auto u = static_cast<unsigned char>(frame[c]);
            out[c] = static_cast<int>(static_cast<std::uint32_t>(u - 128) << 24);
        } else if (bits == 16) {
            std::int16_t v = 0;
            std::memcpy(&v, frame + 2 * c, sizeof v);
            out[c] = static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) << 16);
        } else {
            std::int32_t v = 0;
            std::memcpy(&v, frame + 4 * c, sizeof v);
            out[c] = v;
        }
    }
}

}  // namespace

int RunGenerateCommand(const CliContext& ctx)
{
    GenerateOptions o;
    if (const std::string error = ParseGenerateOptions(ctx.args, o); !error.empty()) {
        std::cerr << "sonvera-cli generate: " << error << "\n" << kGenerateUsage;
        return 2;
    }

    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    SoundEngine engine(card);
    int inCount = 0, outCount = 0;
    std::uint32_t formats = 0;
    engine.BuildDeviceReport(inCount, outCount, formats);
    if (engine.InitSoundEngine() != 0 || outCount < 1) {
        std::cerr << "sonvera-cli generate: the generator could not be started\n";
        return 1;
    }
    engine.SelectOutDevice(0);
    SetDeviceFormat(engine.OutDeviceFormats()[0], o.bits, false, static_cast<std::uint32_t>(o.rate));

    GeneratorParams params;
    params.frequencyHz = o.freq;
    params.levelLeftDb = o.levelL;
    params.levelRightDb = o.levelR;
    params.phaseLeftDeg = o.phaseL;
    params.phaseRightDeg = o.phaseR;
    params.waveform = *o.waveform;
    if (const int error = engine.StartPlayback(o.freq, -1, params); error != 0) {
        std::cerr << "sonvera-cli generate: the signal could not be generated ("
                  << engine.DeviceErrorText(static_cast<std::uint32_t>(error)) << ")\n";
        engine.ShutdownSoundEngine();
        return 1;
    }
    const int containerBytes = o.bits == 8 ? 1 : o.bits == 16 ? 2 : 4;
    const std::size_t frameBytes = static_cast<std::size_t>(containerBytes) * 2;
    const std::size_t bufferFrames = engine.PlaybackLength() / frameBytes;
    std::vector<char> buffer(engine.PlaybackBuffer(), engine.PlaybackBuffer() + bufferFrames * frameBytes);
    engine.StopPlayback();
    engine.ShutdownSoundEngine();
    if (bufferFrames == 0) {
        std::cerr << "sonvera-cli generate: the generator produced no samples\n";
        return 1;
    }

    SF_INFO info{};
    info.samplerate = o.rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (o.bits == 8 ? SF_FORMAT_PCM_U8 : o.bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
    SNDFILE* file = sf_open(o.out.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::cerr << "sonvera-cli generate: " << o.out << " could not be written (" << sf_strerror(nullptr) << ")\n";
        return 1;
    }
    const auto total = static_cast<std::int64_t>(std::llround(*o.seconds * o.rate));
    std::vector<int> chunk;
    chunk.reserve(2 * 4096);
    std::int64_t written = 0;
    std::size_t position = 0;
    bool ok = true;
    while (ok && written < total) {
        chunk.clear();
        while (chunk.size() < 2 * 4096 && written + static_cast<std::int64_t>(chunk.size() / 2) < total) {
            int frame[2];
            ReadFrame(buffer.data() + position * frameBytes, o.bits, frame);
            chunk.push_back(frame[0]);
            chunk.push_back(frame[1]);
            position = (position + 1) % bufferFrames;
        }
        const auto frames = static_cast<sf_count_t>(chunk.size() / 2);
        ok = sf_writef_int(file, chunk.data(), frames) == frames;
        written += frames;
    }
    const int closeError = sf_close(file);
    if (!ok || closeError != 0) {
        std::cerr << "sonvera-cli generate: " << o.out << " could not be written completely\n";
        std::remove(o.out.c_str());
        return 1;
    }
    std::cerr << "sonvera-cli generate: " << written << " frames, a loop of " << bufferFrames << " frames repeated\n";
    return 0;
}

}  // namespace sonvera
