#include "platform/alsamixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cmath>

namespace sonvera {

namespace {

// ALSA prints its own complaints to stderr; the layer reports absent controls instead.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

std::uint16_t ToHalf(long value, long min, long max)
{
    if (max <= min) {
        return 0;
    }
    const double f = static_cast<double>(std::clamp(value, min, max) - min) /
                     static_cast<double>(max - min);
    return static_cast<std::uint16_t>(std::lround(f * 65535.0));
}

long FromHalf(std::uint16_t half, long min, long max)
{
    return min + std::lround(static_cast<double>(half) / 65535.0 * static_cast<double>(max - min));
}

// The words of a control name, upper case: "Front Mic-2" gives FRONT, MIC, 2.
std::vector<std::string> Words(std::string_view name)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : name) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum) {
            word += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    return words;
}

}  // namespace

bool IsInputSourceControl(std::string_view name)
{
    static const char* const kChain[] = {"CAPTURE", "MASTER", "DIGITAL", "SOURCE", "BOOST"};
    static const char* const kSources[] = {"LINE", "MIC", "MICROPHONE", "CD", "AUX", "VIDEO",
                                           "PHONE", "TAPE", "TUNER", "RADIO"};
    bool source = false;
    for (const std::string& word : Words(name)) {
        for (const char* chain : kChain) {
            if (word == chain) {
                return false;
            }
        }
        for (const char* stem : kSources) {
            const std::string_view s(stem);
            // "MIC" and "MIC2" name a source, "MICRO" does not.
            if (word.compare(0, s.size(), s) == 0 &&
                word.find_first_not_of("0123456789", s.size()) == std::string::npos) {
                source = true;
            }
        }
    }
    return source;
}

struct AlsaMixer::Impl {
    snd_mixer_t* mixer = nullptr;
    std::vector<snd_mixer_elem_t*> lines;
    std::vector<std::string> lineNames;
};

AlsaMixer::AlsaMixer(const std::string& device) : impl_(std::make_unique<Impl>()), device_(device)
{
    snd_lib_error_set_handler(&QuietAlsa);
    snd_mixer_t* m = nullptr;
    if (snd_mixer_open(&m, 0) < 0) {
        return;
    }
    if (snd_mixer_attach(m, device.c_str()) < 0 || snd_mixer_selem_register(m, nullptr, nullptr) < 0 ||
        snd_mixer_load(m) < 0) {
        snd_mixer_close(m);
        return;
    }
    impl_->mixer = m;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(m); e != nullptr; e = snd_mixer_elem_next(e)) {
        const char* name = snd_mixer_selem_get_name(e);
        if (snd_mixer_selem_is_active(e) && snd_mixer_selem_has_capture_volume(e) &&
            !snd_mixer_selem_is_enumerated(e) && name != nullptr && IsInputSourceControl(name)) {
            impl_->lines.push_back(e);
            impl_->lineNames.emplace_back(name);
        }
    }
}

AlsaMixer::~AlsaMixer()
{
    if (impl_->mixer != nullptr) {
        snd_mixer_close(impl_->mixer);
    }
}

bool AlsaMixer::Valid() const
{
    return impl_->mixer != nullptr;
}

std::vector<std::string> AlsaMixer::CaptureLines() const
{
    return impl_->lineNames;
}

bool AlsaMixer::GetCaptureVolume(std::size_t line, std::uint32_t& packed)
{
    if (line >= impl_->lines.size()) {
        return false;
    }
    snd_mixer_elem_t* e = impl_->lines[line];
    snd_mixer_handle_events(impl_->mixer);
    long min = 0, max = 0, left = 0, right = 0;
    if (snd_mixer_selem_get_capture_volume_range(e, &min, &max) < 0 ||
        snd_mixer_selem_get_capture_volume(e, SND_MIXER_SCHN_FRONT_LEFT, &left) < 0) {
        return false;
    }
    if (snd_mixer_selem_is_capture_mono(e) ||
        snd_mixer_selem_get_capture_volume(e, SND_MIXER_SCHN_FRONT_RIGHT, &right) < 0) {
        right = left;
    }
    packed = ToHalf(left, min, max) | (static_cast<std::uint32_t>(ToHalf(right, min, max)) << 16);
    return true;
}

bool AlsaMixer::SetCaptureVolume(std::size_t line, std::uint32_t packed)
{
    if (line >= impl_->lines.size()) {
        return false;
    }
    snd_mixer_elem_t* e = impl_->lines[line];
    long min = 0, max = 0;
    if (snd_mixer_selem_get_capture_volume_range(e, &min, &max) < 0) {
        return false;
    }
    const long left = FromHalf(static_cast<std::uint16_t>(packed & 0xFFFF), min, max);
    const long right = FromHalf(static_cast<std::uint16_t>(packed >> 16), min, max);
    if (snd_mixer_selem_is_capture_mono(e)) {
        return snd_mixer_selem_set_capture_volume_all(e, std::max(left, right)) >= 0;
    }
    return snd_mixer_selem_set_capture_volume(e, SND_MIXER_SCHN_FRONT_LEFT, left) >= 0 &&
           snd_mixer_selem_set_capture_volume(e, SND_MIXER_SCHN_FRONT_RIGHT, right) >= 0;
}

}  // namespace sonvera
