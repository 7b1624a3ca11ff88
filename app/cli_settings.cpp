// sonvera-cli settings: lists the settings as the program would write them back.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>

#include "app/cli.h"
#include "config/configpath.h"
#include "config/profilefile.h"
#include "config/sections.h"
#include "config/settings.h"
#include "engine/soundengine.h"
#include "platform/wavelayer.h"

namespace sonvera {

int RunSettingsCommand(const CliContext& ctx)
{
    if (!ctx.args.empty()) {
        std::cerr << "sonvera-cli settings: unexpected argument '" << ctx.args.front() << "'\n"
                  << "Usage: sonvera-cli [--config FILE] settings\n";
        return 2;
    }
    const std::string path = ConfigFilePath(ctx.options.configPath);
    const ProfileFile file(path);
    if (file.Probe() == ProfileFile::Status::Unreadable) {
        // Printing defaults here would pass them off as the file's contents.
        std::cerr << "sonvera-cli settings: cannot read '" << path << "'\n";
        return 1;
    }

    // Read with the program's rules (no device hooks: indices are limited to 0..2),
    // then run the program's own writers into memory and list what they wrote.
    Settings settings;
    ReadMainSections(file, settings, MainReadHooks{});
    ReadAnalysisSection(file, settings.Analysis);
    ReadGeneratorSection(file, settings.Generator);
    ReadDiagramOptions(file, settings.DiagramOpts);
    ReadLogSweepSection(file, settings.LogSweep);

    ProfileFile out = ProfileFile::InMemory();
    WriteMainSections(out, settings);
    WriteAnalysisSection(out, settings.Analysis);
    WriteGeneratorSection(out, settings.Generator);
    WriteDiagramOptions(out, settings.DiagramOpts);
    WriteLogSweepSection(out, settings.LogSweep);

    for (const ProfileWrite& w : out.Writes()) {
        std::cout << w.section << '.' << w.key << '=' << w.value << '\n';
    }

    // Section SDSOUND: its keys are the names of the sound devices present now (chosen
    // by --audio / SONVERA_AUDIO), read and written as the sound engine does.
    const AudioBackendChoice choice = ParseAudioBackend(ctx.options.audio, std::getenv("SONVERA_AUDIO"));
    DutConfig dut;
    std::string error = choice.error;
    if (error.empty()) {
        error = DutFromOptions(ctx.options.dut, std::getenv("SONVERA_DUT"), dut);
    }
    if (!error.empty()) {
        std::cerr << "sonvera-cli settings: " << error << "\n";
        return 2;
    }
    std::unique_ptr<WaveLayer> layer = CreateWaveLayer(choice.backend, dut, error);
    if (!layer) {
        std::cerr << "sonvera-cli settings: " << error << "\n";
        return 1;
    }
    SoundEngine engine(*layer);
    engine.LoadSoundSettings(file);
    ProfileFile sound = ProfileFile::InMemory();
    engine.SaveSoundSettings(sound);
    // An input and an output device of the same name share their keys; list each key
    // once, with the value the file ends up holding. A key that cannot be stored (a
    // device name with "=" in it) is not in the file and is not listed.
    std::set<std::string> listed;
    for (const ProfileWrite& w : sound.Writes()) {
        std::string upper = w.key;
        for (char& c : upper) {
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
        const std::string value = sound.GetString(w.section, w.key, "\n", kSoundBufferSize);
        if (value != "\n" && listed.insert(upper).second) {
            std::cout << w.section << '.' << w.key << '=' << value << '\n';
        }
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

}  // namespace sonvera
