#include "measure/soundstart.h"

#include <filesystem>
#include <system_error>

#include "engine/soundengine.h"

namespace sonvera {

int StartSoundSystem(SoundEngine& engine, SoundDevices& devices)
{
    engine.BuildDeviceReport(devices.inCount, devices.outCount, devices.captureFormats);
    return engine.InitSoundEngine();
}

int SelectInputLine(SoundEngine& engine, VolumeSettings& volume, int line)
{
    engine.ChooseInputLine(line);
    engine.SetLineVolume(0, SoundEngine::kAllLines);
    const int used = engine.InputLine();
    engine.SetLineVolume(volume.GenInVolume, used);
    volume.InChannel = used;
    return used;
}

void ReadStartSettings(const ProfileFile& file, SoundEngine& engine, const SoundDevices& devices,
                       Settings& settings, StartCurves curves, const MainReadHooks& shown)
{
    auto load = [&curves](CorrectionCurve& curve, const std::string& name) {
        std::error_code ec;
        if (!curves.createMissing && !std::filesystem::exists(name, ec) && !ec) {
            return;
        }
        if (curves.fileRead) {
            curves.fileRead(name);
        }
        curves.loader.LoadCurveFile(curve, name);
    };
    auto then = [](const auto& hook, auto value) {
        if (hook) {
            hook(value);
        }
    };
    MainReadHooks hooks;
    hooks.InDeviceCount = [&devices] { return devices.inCount; };
    hooks.OutDeviceCount = [&devices] { return devices.outCount; };
    hooks.SelectInDevice = [&](int i) {
        engine.SelectInDevice(i);
        then(shown.SelectInDevice, i);
    };
    hooks.SelectOutDevice = [&](int i) {
        engine.SelectOutDevice(i);
        then(shown.SelectOutDevice, i);
    };
    hooks.LoadInCorrection = [&](const std::string& name) {
        load(curves.in, name);
        then(shown.LoadInCorrection, name);
    };
    hooks.LoadOutCorrection = [&](const std::string& name) {
        load(curves.out, name);
        then(shown.LoadOutCorrection, name);
    };
    hooks.SetInCorrActive = [&](bool on) {
        curves.in.active = on && curves.in.count > 0;
        then(shown.SetInCorrActive, curves.in.active);
    };
    hooks.SetOutCorrActive = [&](bool on) {
        curves.out.active = on && curves.out.count > 0;
        then(shown.SetOutCorrActive, curves.out.active);
    };
    hooks.SelectAuxInput = [&](int line) { then(shown.SelectAuxInput, SelectInputLine(engine, settings.Volume, line)); };
    hooks.SetAverVal = shown.SetAverVal;
    ReadMainSections(file, settings, hooks);
}

void ReadStartFilter(const ProfileFile& file, AnalysisSettings& analysis, WeightingFilter& filter)
{
    ReadAnalysisSection(file, analysis);
    filter.SelectFilter(analysis.AnaFilterName);
}

}  // namespace sonvera
