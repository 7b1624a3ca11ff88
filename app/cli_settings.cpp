// sonvera-cli settings: lists the settings as the program would write them back.
#include <cstdlib>
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

const char* const kSettingsUsage =
    "Usage: sonvera-cli [--config FILE] [--audio virtual|portaudio|jack|auto] [--dut SPEC] settings\n"
    "Prints every setting as SECTION.KEY=value, as the program would write it; the file is only read.\n";

int RunSettingsCommand(CliContext& ctx)
{
    if (const int status = ctx.ReadOptions([](OptionCursor& c) { return "unexpected argument '" + c.Argument() + "'"; });
        status >= 0) {
        return status;
    }
    // Everything is checked before a line is printed.
    const AudioBackendChoice choice = ParseAudioBackend(ctx.options.audio, std::getenv("SONVERA_AUDIO"));
    DutConfig dut;
    std::string error = choice.error;
    if (error.empty()) {
        error = DutFromOptions(ctx.options.dut, std::getenv("SONVERA_DUT"), dut);
    }
    if (!error.empty()) {
        return ctx.Fail(2, error);
    }
    const std::string path = ConfigFilePath(ctx.options.configPath);
    ProfileFile file(path);
    FileProblem problem;
    // One read of the file for every reader below.
    if (file.BeginReading(&problem) == ProfileFile::Status::Unreadable) {
        // Printing defaults here would pass them off as the file's contents.
        return ctx.Fail(1, "cannot read '" + path + "': " + DescribeFileProblem(problem));
    }
    std::unique_ptr<WaveLayer> layer = CreateWaveLayer(choice.backend, dut, error);
    if (!layer) {
        return ctx.Fail(1, error);
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

    std::string text;
    for (const ProfileWrite& w : out.Writes()) {
        text += w.section + '.' + w.key + '=' + w.value + '\n';
    }

    // Section SDSOUND: its keys are the names of the sound devices present now (chosen
    // by --audio / SONVERA_AUDIO), read and written as the sound engine does.
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
            text += w.section + '.' + w.key + '=' + value + '\n';
        }
    }
    return ctx.Print(text);
}

}  // namespace sonvera
