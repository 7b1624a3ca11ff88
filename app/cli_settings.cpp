// sonvera-cli settings: lists the settings as the program would write them back.
#include <iostream>

#include "app/cli.h"
#include "config/configpath.h"
#include "config/profilefile.h"
#include "config/sections.h"
#include "config/settings.h"

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

    ProfileFile out = ProfileFile::InMemory();
    WriteMainSections(out, settings);
    WriteAnalysisSection(out, settings.Analysis);
    WriteGeneratorSection(out, settings.Generator);
    WriteDiagramOptions(out, settings.DiagramOpts);

    for (const ProfileWrite& w : out.Writes()) {
        std::cout << w.section << '.' << w.key << '=' << w.value << '\n';
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

}  // namespace sonvera
