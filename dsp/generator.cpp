#include "dsp/generator.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>

namespace sonvera {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Full-scale values per container width. 32-bit full scale is 2^31 − 256 so that the
// lowest byte carries no signal and a 24-bit device sees a symmetric ±0x7FFFFF.
template <int B> constexpr long double kFullScale = 0;
template <> constexpr long double kFullScale<1> = 127.0L;
template <> constexpr long double kFullScale<2> = 32767.0L;
template <> constexpr long double kFullScale<4> = 2147483392.0L;

// Nearest integer, halves to even, independent of the floating-point rounding mode.
long double RoundHalfEven(long double v) {
    long double f = std::floor(v);
    const long double diff = v - f;
    if (diff > 0.5L || (diff == 0.5L && std::fmod(f, 2.0L) != 0.0L)) f += 1.0L;
    return f;
}

// Scales a value in −1..+1 by amplitude a and stores it in a B-byte container.
// Out-of-range products are clipped to ±full scale; NaN becomes silence.
template <int B>
void Store(std::uint8_t* dst, long double a, long double x) {
    constexpr long double fullScale = kFullScale<B>;
    long double v = fullScale * a * x;
    if (std::isnan(v)) {
        v = 0.0L;
    } else if (v > fullScale) {
        v = fullScale;
    } else if (v < -fullScale) {
        v = -fullScale;
    }
    const long double r = RoundHalfEven(v);
    if constexpr (B == 1) {
        *dst = static_cast<std::uint8_t>(128 + static_cast<int>(r));
    } else if constexpr (B == 2) {
        const auto s = static_cast<std::int16_t>(r);
        std::memcpy(dst, &s, sizeof s);
    } else {
        const auto s = static_cast<std::int32_t>(r);
        std::memcpy(dst, &s, sizeof s);
    }
}

template <int B>
void WriteSilence(std::uint8_t* out, std::size_t frames) {
    std::memset(out, B == 1 ? 128 : 0, frames * 2 * B);
}

struct ChannelSetup {
    long double ampL;
    long double ampR;
    long double phaseL;  // rad
    long double phaseR;  // rad
    long double step;    // rad per frame
};

template <int B>
void WritePeriodic(std::uint8_t* out, std::size_t frames, const ChannelSetup& c, bool square) {
    auto shape = [square](long double arg) -> long double {
        const long double s = std::sin(arg);
        if (!square) return s;
        return s > 0.0L ? 1.0L : -1.0L;
    };
    const bool shared = c.ampL == c.ampR && c.phaseL == c.phaseR;
    for (std::size_t j = 0; j < frames; ++j) {
        const long double base = static_cast<long double>(j) * c.step;
        const long double xL = shape(base + c.phaseL);
        std::uint8_t* frame = out + j * 2 * B;
        Store<B>(frame, c.ampL, xL);
        if (shared) {
            std::memcpy(frame + B, frame, B);
        } else {
            Store<B>(frame + B, c.ampR, shape(base + c.phaseR));
        }
    }
}

template <int B, typename NextValue>
void WriteNoise(std::uint8_t* out, std::size_t frames, const ChannelSetup& c, bool inverted,
                NextValue next) {
    const long double signR = inverted ? -1.0L : 1.0L;
    for (std::size_t j = 0; j < frames; ++j) {
        const double x = next();
        std::uint8_t* frame = out + j * 2 * B;
        Store<B>(frame, c.ampL, x);
        Store<B>(frame + B, c.ampR, signR * x);
    }
}

template <int B>
bool FillWidth(std::uint8_t* out, std::size_t frames, int sampleRateHz,
               const GeneratorParams& p, NoiseGenerator& noise, PinkBank& pink) {
    ChannelSetup c;
    c.ampL = Generator::LevelAmplitude(p.levelLeftDb);
    c.ampR = Generator::LevelAmplitude(p.levelRightDb);
    c.phaseL = static_cast<long double>(p.phaseLeftDeg) * kPi / 180.0L;
    c.phaseR = static_cast<long double>(p.phaseRightDeg) * kPi / 180.0L;
    c.step = 2.0L * kPi * static_cast<long double>(p.frequencyHz) /
             static_cast<long double>(sampleRateHz);
    // For noise the phases only decide whether the right channel is the inverted left.
    const bool inverted = p.phaseLeftDeg != p.phaseRightDeg;

    switch (p.waveform) {
    case kWaveSine:
        WritePeriodic<B>(out, frames, c, false);
        return true;
    case kWaveSquare:
        WritePeriodic<B>(out, frames, c, true);
        return true;
    case kWaveWhiteNoise:
        WriteNoise<B>(out, frames, c, inverted, [&noise] { return noise.NextSigned(); });
        return true;
    case kWavePinkNoise:
        pink.Setup(sampleRateHz);
        WriteNoise<B>(out, frames, c, inverted,
                      [&noise, &pink] { return pink.Process(noise.NextSigned()); });
        return true;
    default:
        WriteSilence<B>(out, frames);
        return false;
    }
}

}  // namespace

double Generator::LevelAmplitude(std::int32_t levelDb) {
    if (levelDb == kGeneratorSilentDb) return 0.0;
    return std::pow(10.0, levelDb / 20.0);
}

bool Generator::FillGeneratorBuffer(void* buffer, std::size_t bufferBytes, int bitsPerSample,
                                    int sampleRateHz, const GeneratorParams& params) {
    if (buffer == nullptr || sampleRateHz <= 0) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    switch (bitsPerSample) {
    case 8:
        return FillWidth<1>(out, bufferBytes / 2, sampleRateHz, params, noise_, pink_);
    case 16:
        return FillWidth<2>(out, bufferBytes / 4, sampleRateHz, params, noise_, pink_);
    case 24:
    case 32:
        return FillWidth<4>(out, bufferBytes / 8, sampleRateHz, params, noise_, pink_);
    default:
        return false;
    }
}

std::vector<float> SineLoop(std::span<const SineComponent> components, int rateHz)
{
    if (components.empty() || rateHz <= 0) {
        return {};
    }
    int divisor = rateHz;
    for (const SineComponent& c : components) {
        if (c.frequencyHz <= 0) {
            return {};
        }
        divisor = std::gcd(divisor, c.frequencyHz);
    }
    const auto frames = static_cast<std::size_t>(rateHz / divisor);
    std::vector<float> loop(frames, 0.0f);
    for (std::size_t j = 0; j < frames; ++j) {
        double x = 0.0;
        for (const SineComponent& c : components) {
            // The phase of whole cycles is dropped before the sine: exact for every frame.
            const auto cycles = static_cast<std::int64_t>(c.frequencyHz) * static_cast<std::int64_t>(j) % rateHz;
            x += c.amplitude * std::sin(2.0 * std::numbers::pi * static_cast<double>(cycles) / rateHz +
                                        c.phaseDeg * std::numbers::pi / 180.0);
        }
        loop[j] = static_cast<float>(x);
    }
    return loop;
}

std::vector<SineComponent> TwoTones(TwoToneTest test, double peakDb)
{
    const double peak = std::pow(10.0, peakDb / 20.0);
    switch (test) {
    case TwoToneTest::Smpte:
        return {{60, 0.8 * peak}, {7000, 0.2 * peak}};
    case TwoToneTest::Din:
        return {{250, 0.8 * peak}, {8000, 0.2 * peak}};
    case TwoToneTest::Ccif:
        break;
    }
    return {{19000, 0.5 * peak}, {20000, 0.5 * peak}};
}

std::vector<float> GeneratorLoop(const GeneratorParams& params, bool left, int rateHz)
{
    const std::int32_t level = left ? params.levelLeftDb : params.levelRightDb;
    const double amplitude = level <= kGeneratorSilentDb ? 0.0 : std::pow(10.0, level / 20.0);
    std::vector<SineComponent> tones;
    switch (params.waveform) {
    case kWaveSine:
        tones.push_back({params.frequencyHz, amplitude, static_cast<double>(left ? params.phaseLeftDeg : params.phaseRightDeg)});
        break;
    case kWaveSmpte:
    case kWaveDin:
    case kWaveCcif:
        tones = TwoTones(params.waveform == kWaveSmpte ? TwoToneTest::Smpte
                         : params.waveform == kWaveDin ? TwoToneTest::Din
                                                       : TwoToneTest::Ccif,
                         0.0);
        for (SineComponent& t : tones) {
            t.amplitude *= amplitude;
        }
        break;
    default:
        return {};
    }
    return SineLoop(tones, rateHz);
}

}  // namespace sonvera
