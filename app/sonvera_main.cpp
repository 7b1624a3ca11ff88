// sonvera: the measuring program's window.
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

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
    "  --version       the program's version\n"
    "  --startup-probe print the milliseconds from start to the first painted main\n"
    "                  window, then quit (for the speed report)\n";

/// Reports the time from the program's start to the first paint of the watched window
/// and ends the event loop (for `--startup-probe`).
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(std::chrono::steady_clock::time_point start) : start_(start) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_);
            std::cout << "startup-ms " << static_cast<long long>(ms.count() + 0.5) << std::endl;
            // Quit after this paint has finished, from the event loop.
            QTimer::singleShot(0, [] { QApplication::quit(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::chrono::steady_clock::time_point start_;
    bool reported_ = false;
};

}  // namespace

int main(int argc, char** argv)
{
    const auto startTime = std::chrono::steady_clock::now();
    sonvera::CommonOptions opts = sonvera::ParseCommonOptions(argc, argv);
    const auto probeOption = std::find(opts.rest.begin(), opts.rest.end(), std::string("--startup-probe"));
    const bool startupProbe = probeOption != opts.rest.end();
    if (startupProbe) {
        opts.rest.erase(probeOption);
    }
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
    // Ties the windows to the installed desktop entry (Wayland finds it by this name) and
    // gives them the installed icon: the desktop's icon theme's, else the one installed
    // beside the program (PREFIX/bin/../share/icons/...). Run from the build folder the
    // windows have none.
    QGuiApplication::setDesktopFileName(QStringLiteral("sonvera"));
    const QString installedIcon = QString::fromStdString(sonvera::ProgramDirectory()) +
                                  QStringLiteral("../share/icons/hicolor/256x256/apps/sonvera.png");
    if (QIcon::hasThemeIcon(QStringLiteral("sonvera"))) {
        QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("sonvera")));
    } else if (QFile::exists(installedIcon)) {
        QApplication::setWindowIcon(QIcon(installedIcon));
    }
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
            // Closing the main window ends the program, whatever other window is open:
            // exit() leaves the event loop without asking the other windows, so none of
            // them can keep the process alive without its main window.
            QApplication::setQuitOnLastWindowClosed(false);
            program.Main().onClosed = [] { QApplication::exit(0); };
            FirstPaintProbe probe(startTime);
            if (startupProbe) {
                program.Main().installEventFilter(&probe);
            }
            program.Show();
            status = QApplication::exec();
            if (startupProbe) {
                program.Main().removeEventFilter(&probe);
            }
        }
        prompts.SetParent(nullptr);
    }
    sonvera::SetPromptService(nullptr);
    return status;
}
