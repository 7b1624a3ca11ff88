// Fuzz target: the configuration file. The input is the file's bytes; it is read from
// disk and from memory (which must agree), then by every section reader. The settings
// are written into an empty file and read back, which must give the same text again.

#include "fuzz/fuzz_config.h"

#include <array>

#include "config/sections.h"
#include "fuzz/fuzzsupport.h"

namespace sonvera::fuzz {

const std::array<std::string, 3> kFuzzInNames{"Loopback In", "", "Line [2] In"};
const std::array<std::string, 3> kFuzzOutNames{"Loopback Out", "Loopback In", ""};

namespace {

void ReadAll(const ProfileFile& file, Settings& settings)
{
    MainReadHooks hooks;
    hooks.InDeviceCount = [] { return 2; };
    hooks.OutDeviceCount = [] { return 3; };
    hooks.SelectInDevice = [](int index) { Require(index >= 0 && index < 2, "input device index within the count"); };
    hooks.SelectOutDevice = [](int index) { Require(index >= 0 && index < 3, "output device index within the count"); };
    const auto checkName = [](const std::string& name) {
        Require(!name.empty() && name.size() < kMainBufferSize, "correction file names fit the buffer");
    };
    hooks.LoadInCorrection = checkName;
    hooks.LoadOutCorrection = checkName;
    ReadMainSections(file, settings, hooks);
    ReadAnalysisSection(file, settings.Analysis);
    ReadGeneratorSection(file, settings.Generator);
    ReadDiagramOptions(file, settings.DiagramOpts);
    ReadSoundSection(file, kFuzzInNames, kFuzzOutNames, settings.InDeviceFormats, settings.OutDeviceFormats);
    ReadLogSweepSection(file, settings.LogSweep);
    Require(settings.LogSweep.LogSweepFrom >= 1.0 && settings.LogSweep.LogSweepFrom < settings.LogSweep.LogSweepTo,
            "the log sweep's band is a band");
}

std::string WriteAll(const Settings& settings)
{
    ProfileFile file = ProfileFile::InMemory();
    WriteMainSections(file, settings);
    WriteAnalysisSection(file, settings.Analysis);
    WriteGeneratorSection(file, settings.Generator);
    WriteDiagramOptions(file, settings.DiagramOpts);
    WriteSoundSection(file, settings.InDeviceFormats, settings.OutDeviceFormats, kFuzzInNames, kFuzzOutNames);
    WriteLogSweepSection(file, settings.LogSweep);
    return file.Text();
}

// The text with the blanks and tabs at line ends removed. Values are read without them,
// so "KEY=a<tab>" and "KEY=a" are the same setting; a text cut to its buffer size can
// end in blanks that the next reading drops.
std::string WithoutTrailingBlanks(const std::string& text)
{
    std::string out;
    std::size_t lineStart = 0;
    for (const char c : text) {
        if (c == '\n') {
            while (out.size() > lineStart && (out.back() == ' ' || out.back() == '\t')) {
                out.pop_back();
            }
            lineStart = out.size() + 1;
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace

ConfigOutcome ReadConfigBytes(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFile scratch(".cfg");
    scratch.Write(data, size);

    ConfigOutcome out;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ProfileFile onDisk(scratch.Path());
    const ProfileFile inMemory = ProfileFile::InMemory(text);
    FileProblem problem;
    out.status = onDisk.Probe(&problem);
    // Text stored as UTF-16 is refused on disk (its settings would read as defaults).
    Require(out.status == ProfileFile::Status::Ok || problem.kind == FileProblem::Kind::Utf16,
            "a small regular file is readable unless it is UTF-16");
    if (out.status == ProfileFile::Status::Ok) {
        Require(onDisk.Text() == inMemory.Text(), "the file on disk and the same text in memory parse alike");
        Require(onDisk.GetString("MAIN", "SPRACHE", "?", kMainBufferSize) ==
                    inMemory.GetString("MAIN", "SPRACHE", "?", kMainBufferSize),
                "a key reads the same from disk and from memory");
    }

    ReadAll(inMemory, out.settings);
    out.written = WriteAll(out.settings);

    Settings again;
    ReadAll(ProfileFile::InMemory(out.written), again);
    const std::string rewritten = WriteAll(again);
    if (WithoutTrailingBlanks(rewritten) != WithoutTrailingBlanks(out.written)) {
        std::fprintf(stderr, "written:\n%s\nread back and written again:\n%s\n", out.written.c_str(),
                     rewritten.c_str());
    }
    Require(WithoutTrailingBlanks(rewritten) == WithoutTrailingBlanks(out.written),
            "settings written and read back are the same settings");
    return out;
}

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sonvera::fuzz::ReadConfigBytes(data, size);
    return 0;
}
