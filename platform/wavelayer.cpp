#include "platform/wavelayer.h"

#include <cctype>
#include <chrono>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace sonvera {

namespace {

// Text of a code shared by both directions; empty when the code has none.
std::string CommonErrorText(MmResult code, const char* direction)
{
    switch (code) {
    case kMmNoError: return "The command completed successfully.";
    case kMmError: return "An unspecified error occurred in the sound device.";
    case kMmBadDeviceId: return "The device number is out of range.";
    case kMmNotEnabled: return "The sound driver could not be enabled.";
    case kMmAllocated:
        return std::string("The ") + direction + " device is already in use by another program.";
    case kMmInvalidHandle: return "The device handle is not valid (the device is not open).";
    case kMmNoDriver: return "No sound driver is installed for this device.";
    case kMmNoMem: return "Not enough memory for the sound device.";
    case kMmNotSupported: return "The sound device does not support this function.";
    case kMmBadErrNum: return "The error number is out of range.";
    case kMmInvalidFlag: return "An invalid flag was passed to the sound device.";
    case kMmInvalidParam: return "An invalid parameter was passed to the sound device.";
    case kMmHandleBusy: return "The device is busy in another thread.";
    case 13: return "The given alias was not found.";
    case 14: return "The device's registry entry is damaged.";
    case 15: return "The device's registry key was not found.";
    case 16: return "The device's registry entry could not be read.";
    case 17: return "The device's registry entry could not be written.";
    case 18: return "The device's registry entry could not be deleted.";
    case 19: return "The device's registry value was not found.";
    case 20: return "The sound driver does not call back.";
    case kMmLastError: return "More data is available than was asked for.";
    case kWaveBadFormat:
        return std::string("The ") + direction +
               " device does not support this wave format (rate, channels or bits).";
    case kWaveSync: return "The device is synchronous and cannot be opened without a wait.";
    default: return "";
    }
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

// Reads a whole decimal number ("." as decimal mark, any locale); false on anything else.
bool ReadNumber(std::string_view text, double& value)
{
    text = Trim(text);
    if (text.empty()) {
        return false;
    }
    if (text.front() == '+') {
        text.remove_prefix(1);
    }
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(v)) {
        return false;
    }
    value = v;
    return true;
}

}  // namespace

std::string WaveInErrorText(MmResult code)
{
    switch (code) {
    case kWaveStillPlaying: return "Buffers are still queued for recording.";
    case kWaveUnprepared: return "The recording buffer was not prepared.";
    default: break;
    }
    std::string text = CommonErrorText(code, "input");
    return text.empty() ? "Unknown error code " + std::to_string(code) + "." : text;
}

std::string WaveOutErrorText(MmResult code)
{
    switch (code) {
    case kWaveStillPlaying: return "A buffer is still playing.";
    case kWaveUnprepared: return "The playback buffer was not prepared.";
    default: break;
    }
    std::string text = CommonErrorText(code, "output");
    return text.empty() ? "Unknown error code " + std::to_string(code) + "." : text;
}

double WaveLayer::ClockSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

MmResult WaveLayer::WavePlayRecord(WaveOutHandle out, WaveHeader* outHeader, WaveInHandle in)
{
    if (const MmResult r = WaveInStart(in)) {
        return r;
    }
    return WaveOutWrite(out, outHeader);
}

std::uint32_t WaveLayer::WaveKnownDelay(unsigned, unsigned)
{
    return 0;
}

MmResult WaveLayer::WaveInGetErrorText(MmResult code, std::string& text)
{
    if (code > kMmLastError && (code < kWaveBadFormat || code > kWaveSync)) {
        text.clear();
        return kMmBadErrNum;
    }
    text = WaveInErrorText(code);
    return kMmNoError;
}

MmResult WaveLayer::WaveOutGetErrorText(MmResult code, std::string& text)
{
    if (code > kMmLastError && (code < kWaveBadFormat || code > kWaveSync)) {
        text.clear();
        return kMmBadErrNum;
    }
    text = WaveOutErrorText(code);
    return kMmNoError;
}

std::uint32_t StandardFormatBit(std::uint32_t rateHz, int channels, int bits)
{
    int rateIndex = -1;
    switch (rateHz) {
    case 11025: rateIndex = 0; break;
    case 22050: rateIndex = 1; break;
    case 44100: rateIndex = 2; break;
    case 48000: rateIndex = 3; break;
    case 96000: rateIndex = 4; break;
    default: return 0;
    }
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) {
        return 0;
    }
    const int within = (channels == 2 ? 1 : 0) + (bits == 16 ? 2 : 0);
    return 1u << (rateIndex * 4 + within);
}

AudioBackendChoice ParseAudioBackend(std::string_view option, const char* environment)
{
    AudioBackendChoice choice;
    std::string_view source = "--audio";
    std::string_view text = Trim(option);
    if (text.empty() && environment != nullptr) {
        text = Trim(environment);
        source = "SONVERA_AUDIO";
    }
    const std::string value = Lower(text);
    if (value.empty() || value == "auto") {
        choice.backend = AudioBackend::Auto;
    } else if (value == "virtual") {
        choice.backend = AudioBackend::Virtual;
    } else if (value == "portaudio") {
        choice.backend = AudioBackend::PortAudio;
    } else if (value == "jack") {
        choice.backend = AudioBackend::Jack;
    } else {
        choice.error = std::string(source) + ": unknown audio backend '" + std::string(text) +
                       "' (use virtual, portaudio, jack or auto)";
    }
    return choice;
}

DutConfig DefaultDut()
{
    DutConfig dut;
    dut.highPassHz = 10.0;
    dut.lowPassHz = 20000.0;
    dut.h2 = 0.00008;
    dut.h3 = 0.00006;  // together sqrt(h2^2 + h3^2) = 0.0001 = 0.01 %
    dut.noise = true;
    dut.noiseDbfs = -110.0;
    return dut;
}

std::string ParseDutSpec(std::string_view spec, DutConfig& dut)
{
    DutConfig parsed;  // the ideal wire; each item changes one property
    std::vector<std::string> seen;
    std::string_view rest = spec;
    if (Trim(rest).empty()) {
        return "device under test: empty specification (use name=value pairs: gain=DB, "
               "hp=HZ, lp=HZ, h2=FRACTION, h3=FRACTION, noise=DBFS, delay=SAMPLES, xtalk=DB)";
    }
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = Trim(rest.substr(0, comma));
        if (item.empty()) {
            return "device under test: empty item in '" + std::string(spec) + "'";
        }
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            return "device under test: '" + std::string(item) + "' is not name=value";
        }
        const std::string name = Lower(Trim(item.substr(0, eq)));
        const std::string_view valueText = Trim(item.substr(eq + 1));
        for (const auto& s : seen) {
            if (s == name) {
                return "device under test: '" + name + "' given twice";
            }
        }
        seen.push_back(name);
        double v = 0.0;
        const bool isNumber = ReadNumber(valueText, v);
        const std::string bad = "device under test: bad value '" + std::string(valueText) +
                                "' for " + name;
        if (name == "gain") {
            if (!isNumber || v < -200.0 || v > 60.0) {
                return bad + " (dB from -200 to 60)";
            }
            parsed.gainDb = v;
        } else if (name == "hp" || name == "lp") {
            if (!isNumber || v <= 0.0 || v > 1e6) {
                return bad + " (corner frequency in Hz, above 0 and at most 1000000)";
            }
            (name == "hp" ? parsed.highPassHz : parsed.lowPassHz) = v;
        } else if (name == "h2" || name == "h3") {
            if (!isNumber || v < 0.0 || v > 1.0) {
                return bad + " (harmonic amplitude as a fraction from 0 to 1)";
            }
            (name == "h2" ? parsed.h2 : parsed.h3) = v;
        } else if (name == "noise") {
            if (!isNumber || v > 0.0 || v < -200.0) {
                return bad + " (noise RMS in dBFS from -200 to 0)";
            }
            parsed.noise = true;
            parsed.noiseDbfs = v;
        } else if (name == "delay") {
            if (!isNumber || v < 0.0 || v > 1000000.0 || v != std::floor(v)) {
                return bad + " (whole number of samples from 0 to 1000000)";
            }
            parsed.delaySamples = static_cast<int>(v);
        } else if (name == "xtalk") {
            if (!isNumber || v > 0.0 || v < -200.0) {
                return bad + " (crosstalk in dB from -200 to 0)";
            }
            parsed.crosstalk = true;
            parsed.crosstalkDb = v;
        } else {
            return "device under test: unknown name '" + name +
                   "' (known: gain, hp, lp, h2, h3, noise, delay, xtalk)";
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest = rest.substr(comma + 1);
    }
    dut = parsed;
    return "";
}

std::string DutFromOptions(std::string_view option, const char* environment, DutConfig& dut)
{
    if (!Trim(option).empty()) {
        const std::string error = ParseDutSpec(option, dut);
        return error.empty() ? error : "--dut: " + error;
    }
    if (environment != nullptr && !Trim(environment).empty()) {
        const std::string error = ParseDutSpec(environment, dut);
        return error.empty() ? error : "SONVERA_DUT: " + error;
    }
    dut = DefaultDut();
    return "";
}

}  // namespace sonvera
