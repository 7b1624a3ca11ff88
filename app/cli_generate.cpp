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
#include "config/configpath.h"
#include "config/profilefile.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "dsp/analysis.h"
#include "dsp/generator.h"
#include "dsp/logsweep.h"
#include "dsp/timingmarker.h"
#include "engine/blockconvert.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"

namespace sonvera {

const char* const kGenerateUsage =
    "Usage: sonvera-cli generate --wave sin|sqr|white|pink [--freq HZ] [--level-l DB] [--level-r DB]\n"
    "         [--phase-l DEG] [--phase-r DEG] [--rate HZ] [--bits 8|16|24] --seconds S --out FILE.wav\n"
    "       sonvera-cli [--config FILE] generate --wave logsweep [--from HZ] [--to HZ] [--seconds S]\n"
    "         [--level DB] [--rate HZ] [--bits 16|24|32] --out FILE.wav\n"
    "The frequency of sin and sqr lies below half the rate; files above 4 GiB are written as RF64.\n"
    "logsweep writes the log sweep as 'logsweep' plays it (its settings where no option is given),\n"
    "after two timing markers on both channels, for 'logsweep --input' to analyse a recording of\n"
    "it; its rate is 48000 Hz unless --rate is given, --bits 32 writes floating-point samples.\n";

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
    std::optional<int> rateGiven;
    std::optional<double> from, to, level;  // the log sweep's
};

constexpr int kWaveLogSweep = 4;

/// Takes one option of the command; returns "" or the error.
std::string ParseGenerateOption(OptionCursor& cursor, GenerateOptions& o)
{
    const std::string& name = cursor.Name();
    auto integer = [&](int& target, int lo, int hi) { return TakeWholeNumber(cursor, lo, hi, target); };
    if (name == "--wave") {
        const auto v = cursor.Take();
        const char* names[] = {"sin", "sqr", "white", "pink", "logsweep"};
        o.waveform.reset();
        for (int k = 0; k < 5 && v; ++k) {
            if (*v == names[k]) {
                o.waveform = k;
            }
        }
        if (!o.waveform) {
            return "--wave must be sin, sqr, white, pink or logsweep";
        }
    } else if (name == "--from" || name == "--to" || name == "--level") {
        const auto v = cursor.Take();
        const auto parsed = v ? ParseReal(*v) : std::nullopt;
        if (!parsed) {
            return name + (name == "--level" ? " needs a level in dB" : " needs a frequency in Hz");
        }
        (name == "--from" ? o.from : name == "--to" ? o.to : o.level) = *parsed;
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
        const std::string error = integer(o.rate, 1000, 200000);
        o.rateGiven = o.rate;
        return error;
    } else if (name == "--bits") {
        const std::string error = integer(o.bits, 8, 32);
        if (error.empty() && o.bits != 8 && o.bits != 16 && o.bits != 24 && o.bits != 32) {
            return "--bits must be 8, 16 or 24 (16, 24 or 32 for logsweep)";
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
    if (*o.waveform == kWaveLogSweep) {
        if (o.out.empty()) {
            return "--out is required";
        }
        return o.bits == 8 ? "--bits must be 16, 24 or 32 for logsweep" : "";
    }
    if (o.from || o.to || o.level) {
        return "--from, --to and --level are for --wave logsweep (sin and sqr take --freq, --level-l, --level-r)";
    }
    if (o.bits == 32) {
        return "--bits must be 8, 16 or 24";
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

/// generate --wave logsweep: the sweep file with its timing markers.
int GenerateLogSweep(CliContext& ctx, const GenerateOptions& o)
{
    // The log sweep's settings as 'logsweep' reads them, then the options.
    const std::string configPath = ConfigFilePath(ctx.options.configPath);
    ProfileFile profile(configPath);
    FileProblem problem;
    if (profile.BeginReading(&problem) == ProfileFile::Status::Unreadable) {
        return ctx.Fail(1, "cannot read '" + configPath + "': " + DescribeFileProblem(problem));
    }
    LogSweepSettings s;
    ReadLogSweepSection(profile, s);
    LogSweepParams p;
    p.fromHz = o.from.value_or(s.LogSweepFrom);
    p.toHz = o.to.value_or(s.LogSweepTo);
    p.seconds = o.seconds.value_or(s.LogSweepSeconds);
    p.levelDb = o.level.value_or(s.LogSweepLevel);
    p.rateHz = o.rateGiven.value_or(48000);
    if (const LogSweepParamError e = CheckLogSweepParams(p); e != LogSweepParamError::None) {
        return ctx.Fail(2, LogSweepParamMessage(e, p));
    }
    OutputTargets targets;
    if (std::string error; const int status = targets.Check(o.out, true, error)) {
        return ctx.Fail(status, error);
    }
    const LogSweepDesign design = DesignLogSweep(p);
    const std::vector<float> samples = MakeMarkedLogSweep(design);
    std::vector<float> frames(2 * samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        frames[2 * i] = frames[2 * i + 1] = samples[i];
    }
    const int format =
        SF_FORMAT_WAV | (o.bits == 16 ? SF_FORMAT_PCM_16 : o.bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_FLOAT);
    if (const std::string error = WriteWaveFile(o.out, frames.data(), samples.size(), 2, p.rateHz, format);
        !error.empty()) {
        return ctx.Fail(1, error);
    }
    const MarkedSweepLayout layout = LayOutMarkedSweep(design);
    std::cerr << "sonvera-cli generate: " << samples.size() << " frames, timing markers at frames "
              << layout.firstMarker << " and " << layout.secondMarker << ", the sweep from frame " << layout.sweepStart
              << "\n";
    return 0;
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
    if (*o.waveform == kWaveLogSweep) {
        return GenerateLogSweep(ctx, o);
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
    const int containerBytes = o.bits == 8 ? 1 : o.bits == 16 ? 2 : 4;
    const std::size_t frameBytes = static_cast<std::size_t>(containerBytes) * 2;
    std::vector<char> buffer;
    if (params.waveform == kWaveSine) {
        // The sine as the generator window plays it: a loop of whole periods.
        const std::vector<float> left = GeneratorLoop(params, true, o.rate);
        const std::vector<float> right = GeneratorLoop(params, false, o.rate);
        buffer.assign(left.size() * frameBytes, 0);
        for (std::size_t i = 0; i < left.size(); ++i) {
            StoreSample(buffer.data() + i * frameBytes, containerBytes, left[i]);
            StoreSample(buffer.data() + i * frameBytes + containerBytes, containerBytes, right[i]);
        }
    } else if (const int error = engine.StartPlayback(o.freq, -1, params); error != 0) {
        const std::string text = engine.DeviceErrorText(static_cast<std::uint32_t>(error));
        engine.ShutdownSoundEngine();
        return ctx.Fail(1, "the signal could not be generated (" + text + ")");
    } else {
        const std::size_t frames = engine.PlaybackLength() / frameBytes;
        buffer.assign(engine.PlaybackBuffer(), engine.PlaybackBuffer() + frames * frameBytes);
        engine.StopPlayback();
    }
    engine.ShutdownSoundEngine();
    const std::size_t bufferFrames = buffer.size() / frameBytes;
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
