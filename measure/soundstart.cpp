#include "measure/soundstart.h"

#include <filesystem>
#include <system_error>

#include "engine/soundengine.h"

namespace sonvera {

int StartSoundSystem(SoundEngine& engine, const ProfileFile& file, SoundDevices& devices)
{
    engine.BuildDeviceReport(devices.inCount, devices.outCount, devices.captureFormats);
    engine.SelectOutDevice(ReadOutDeviceIndex(file, devices.outCount));
    return engine.InitSoundEngine();
}

int SelectInputLine(SoundEngine& engine, VolumeSettings& volume, int line)
{
    engine.ChooseInputLine(line);
    const int used = engine.InputLine();
    volume.InChannel = used;
    return used;
}

void ReadStartSettings(const ProfileFile& file, SoundEngine& engine, const SoundDevices& devices,
                       Settings& settings, StartCurves curves, const MainReadHooks& shown)
{
    auto load = [&curves, &settings](CorrectionCurve& curve, const std::string& name) {
        // The language of section MAIN is read by now: its messages speak it.
        curves.loader.SetCurveMessages(settings.Main.UiLanguage);
        const std::string path = curves.loader.Resolve(name);  // a bare name: beside the configuration
        std::error_code ec;
        if (!curves.createMissing && !std::filesystem::exists(path, ec) && !ec) {
            return;
        }
        if (curves.fileRead) {
            curves.fileRead(path);
        }
        curves.loader.LoadCurveFile(curve, path);
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
    curves.loader.SetCurveMessages(settings.Main.UiLanguage);
}

void ReadStartFilter(const ProfileFile& file, AnalysisSettings& analysis, WeightingFilter& filter,
                     CurveFileLoader& loader)
{
    ReadAnalysisSection(file, analysis);
    filter.RestoreFilter(analysis.AnaFilterName, analysis.AnaFilterFile, loader);
    analysis.AnaFilterName = filter.AnaFilterName;
    analysis.AnaFilterFile = filter.UserFile();
}

}  // namespace sonvera
