// sonvera-cli generate: the generator's output as a wave file. The playback engine
// fills its one buffer on a virtual card exactly as it would for a real device, and
// that buffer is written repeated to the duration, as the device would loop it.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <sndfile.h>

#include "app/cli.h"
#include "app/clisession.h"
#include "app/options.h"
#include "app/outputfile.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "dsp/analysis.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"

namespace sonvera {

const char* const kGenerateUsage =
    "Usage: sonvera-cli generate --wave sin|sqr|white|pink [--freq HZ] [--level-l DB] [--level-r DB]\n"
    "         [--phase-l DEG] [--phase-r DEG] [--rate HZ] [--bits 8|16|24] --seconds S --out FILE.wav\n"
    "The frequency of sin and sqr lies below half the rate; files above 4 GiB are written as RF64.\n";

namespace {

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

/// Takes one option of the command; returns "" or the error.
std::string ParseGenerateOption(OptionCursor& cursor, GenerateOptions& o)
{
    const std::string& name = cursor.Name();
    auto integer = [&](int& target, int lo, int hi) { return TakeWholeNumber(cursor, lo, hi, target); };
    if (name == "--wave") {
        const auto v = cursor.Take();
        const char* names[] = {"sin", "sqr", "white", "pink"};
        o.waveform.reset();
        for (int k = 0; k < 4 && v; ++k) {
            if (*v == names[k]) {
                o.waveform = k;
            }
        }
        if (!o.waveform) {
            return "--wave must be sin, sqr, white or pink";
        }
    } else if (name == "--freq") {
        return integer(o.freq, 1, 100000);
    } else if (name == "--level-l") {
        return integer(o.levelL, -100, 0);
    } else if (name == "--level-r") {
        return integer(o.levelR, -100, 0);
    } else if (name == "--phase-l") {
        return integer(o.phaseL, -100000, 100000);
    } else if (name == "--phase-r") {
        return integer(o.phaseR, -100000, 100000);
    } else if (name == "--rate") {
        return integer(o.rate, 1000, 200000);
    } else if (name == "--bits") {
        const std::string error = integer(o.bits, 8, 24);
        if (error.empty() && o.bits != 8 && o.bits != 16 && o.bits != 24) {
            return "--bits must be 8, 16 or 24";
        }
        return error;
    } else if (name == "--seconds") {
        const auto v = cursor.Take();
        const auto parsed = v ? ParseReal(*v) : std::nullopt;
        if (!parsed || !(*parsed > 0.0) || *parsed > kMaxSeconds) {
            return "--seconds needs a duration above 0 and at most 3600";
        }
        o.seconds = *parsed;
    } else if (name == "--out") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return "--out needs a file name";
        }
        o.out = *v;
    } else {
        return "unknown option '" + cursor.Argument() + "'";
    }
    return "";
}

std::string CheckGenerateOptions(const GenerateOptions& o)
{
    if (!o.waveform) {
        return "--wave is required";
    }
    if (!o.seconds) {
        return "--seconds is required";
    }
    if (o.out.empty()) {
        return "--out is required";
    }
    if (std::llround(*o.seconds * o.rate) < 1) {
        return "--seconds gives less than one frame at " + std::to_string(o.rate) + " Hz";
    }
    if (*o.waveform <= kWaveSquare) {
        if (const std::string problem = ToneProblem(o.freq, o.rate, o.bits == 24 ? 4 : o.bits / 8); !problem.empty()) {
            return "--freq: " + problem;
        }
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

int RunGenerateCommand(CliContext& ctx)
{
    GenerateOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseGenerateOption(c, o); });
        status >= 0) {
        return status;
    }
    if (const std::string error = CheckGenerateOptions(o); !error.empty()) {
        return ctx.Fail(2, error);
    }
    OutputTargets targets;
    if (std::string error; const int status = targets.Check(o.out, true, error)) {
        return ctx.Fail(status, error);
    }

    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    SoundEngine engine(card);
    int inCount = 0, outCount = 0;
    std::uint32_t formats = 0;
    engine.BuildDeviceReport(inCount, outCount, formats);
    if (engine.InitSoundEngine() != 0 || outCount < 1) {
        return ctx.Fail(1, "the generator could not be started");
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
        const std::string text = engine.DeviceErrorText(static_cast<std::uint32_t>(error));
        engine.ShutdownSoundEngine();
        return ctx.Fail(1, "the signal could not be generated (" + text + ")");
    }
    const int containerBytes = o.bits == 8 ? 1 : o.bits == 16 ? 2 : 4;
    const std::size_t frameBytes = static_cast<std::size_t>(containerBytes) * 2;
    const std::size_t bufferFrames = engine.PlaybackLength() / frameBytes;
    std::vector<char> buffer(engine.PlaybackBuffer(), engine.PlaybackBuffer() + bufferFrames * frameBytes);
    engine.StopPlayback();
    engine.ShutdownSoundEngine();
    if (bufferFrames == 0) {
        return ctx.Fail(1, "the generator produced no samples");
    }

    const auto total = static_cast<std::int64_t>(std::llround(*o.seconds * o.rate));
    // A RIFF header counts its size in 32 bits: a file beyond that is written as RF64,
    // whose sizes have 64 bits, rather than with a size that wraps.
    const std::int64_t dataBytes = total * 2 * (o.bits / 8);
    const bool large = dataBytes > 0xFFFFFFFFLL - 4096;
    SF_INFO info{};
    info.samplerate = o.rate;
    info.channels = 2;
    info.format = (large ? SF_FORMAT_RF64 : SF_FORMAT_WAV) |
                  (o.bits == 8 ? SF_FORMAT_PCM_U8 : o.bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
    // The file is written beside its name and takes it only when complete: a failure or
    // a killed process leaves no half file under the name (and an old file as it was).
    OutputFile out(o.out);
    if (!out.Open()) {
        return ctx.Fail(1, out.Error());
    }
    errno = 0;
    SNDFILE* file = sf_open_fd(out.Descriptor(), SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        out.Fail(errno != 0 ? std::strerror(errno) : sf_strerror(nullptr));
        return ctx.Fail(1, out.Error());
    }
    std::vector<int> chunk;
    chunk.reserve(2 * 4096);
    errno = 0;
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
    // The system's reason where there is one (libsndfile words it as its own error).
    int systemError = ok ? 0 : errno;
    const std::string sndfileError = sf_strerror(file);
    errno = 0;
    const int closeError = sf_close(file);
    if (ok && closeError != 0) {
        systemError = errno;
    }
    if (!ok || closeError != 0) {
        out.Fail(systemError != 0 ? std::strerror(systemError) : sndfileError);
        return ctx.Fail(1, out.Error());
    }
    if (!out.Commit()) {
        return ctx.Fail(1, out.Error());
    }
    std::cerr << "sonvera-cli generate: " << written << " frames, a loop of " << bufferFrames << " frames repeated"
              << (large ? ", as RF64" : "") << "\n";
    return 0;
}

}  // namespace sonvera
