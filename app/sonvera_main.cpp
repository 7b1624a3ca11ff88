// sonvera: the measuring program's window.
#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/display.h"
#include "app/options.h"
#include "config/configpath.h"
#include "measure/prompt.h"
#include "platform/wavelayer.h"
#include "ui/messageboxprompts.h"
#include "ui/sonveraprogram.h"

namespace {

const char* const kUsage =
    "Usage: sonvera [--config FILE] [--audio virtual|portaudio|auto] [--dut SPEC]\n"
    "\n"
    "  --config FILE   configuration file (default: snv13.cfg next to the program)\n"
    "  --audio KIND    sound devices: virtual loopback card, PortAudio, or auto\n"
    "  --dut SPEC      device under test of the virtual loopback card\n"
    "  --help          this text\n"
    "  --version       the program's version\n";

}  // namespace

int main(int argc, char** argv)
{
    const sonvera::CommonOptions opts = sonvera::ParseCommonOptions(argc, argv);
    if (!opts.error.empty()) {
        std::cerr << "sonvera: " << opts.error << "\n" << kUsage;
        return 2;
    }
    if (opts.help) {
        std::cout << kUsage;
        return 0;
    }
    if (opts.version) {
        std::cout << sonvera::VersionLine("sonvera") << "\n";
        return 0;
    }
    if (!opts.rest.empty()) {
        std::cerr << "sonvera: unknown argument '" << opts.rest.front() << "'\n" << kUsage;
        return 2;
    }
    const std::string reason = sonvera::NoDisplayReason();
    if (!reason.empty()) {
        std::cerr << "sonvera: " << reason << "\n";
        return 2;
    }

    const sonvera::AudioBackendChoice backend = sonvera::ParseAudioBackend(opts.audio, std::getenv("SONVERA_AUDIO"));
    if (!backend.error.empty()) {
        std::cerr << "sonvera: " << backend.error << "\n";
        return 2;
    }
    sonvera::DutConfig dut;
    const std::string dutError = sonvera::DutFromOptions(opts.dut, std::getenv("SONVERA_DUT"), dut);
    if (!dutError.empty()) {
        std::cerr << "sonvera: " << dutError << "\n";
        return 2;
    }

    QApplication app(argc, argv);
    std::string layerError;
    std::unique_ptr<sonvera::WaveLayer> layer = sonvera::CreateWaveLayer(backend.backend, dut, layerError);
    if (!layer) {
        std::cerr << "sonvera: " << layerError << "\n";
        return 1;
    }

    sonvera::MessageBoxPrompts prompts;
    sonvera::SetPromptService(&prompts);
    int status = 0;
    {
        sonvera::SonveraProgram program(*layer, sonvera::ConfigFilePath(opts.configPath));
        if (program.Start() != 0) {
            status = 1;
        } else {
            prompts.SetParent(&program.Main());
            // Closing the main window ends the program, whatever other window is open.
            QApplication::setQuitOnLastWindowClosed(false);
            program.Main().onClosed = [] { QApplication::quit(); };
            program.Show();
            status = QApplication::exec();
        }
        prompts.SetParent(nullptr);
    }
    sonvera::SetPromptService(nullptr);
    return status;
}
