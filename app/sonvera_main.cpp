// sonvera: the measuring program's window.
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QObject>
#include <QPaintEvent>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "app/display.h"
#include "app/options.h"
#include "config/configpath.h"
#include "diagram/diagramm.h"
#include "measure/prompt.h"
#include "measure/spectrumrun.h"
#include "platform/wavelayer.h"
#include "ui/messageboxprompts.h"
#include "ui/shutdownsignals.h"
#include "ui/sonveraprogram.h"

namespace {

const char* const kUsage =
    "Usage: sonvera [--config FILE] [--audio virtual|portaudio|jack|auto] [--dut SPEC]\n"
    "\n"
    "  --config FILE   configuration file (default: snv13.cfg next to the program when\n"
    "                  it is there, else $XDG_CONFIG_HOME/sonvera/snv13.cfg)\n"
    "  --audio KIND    sound devices: virtual loopback card, PortAudio, or auto\n"
    "  --dut SPEC      device under test of the virtual loopback card\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "  --startup-probe print the milliseconds from start to the first painted main\n"
    "                  window, then quit (for the speed report)\n"
    "  --cpu-probe S   press START on the spectrum page, then print the program's\n"
    "                  processor time in percent of S seconds, the spectra and the\n"
    "                  diagram paints per second, then quit (for the speed report)\n";

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

/// Processor time (user and system, all threads) of this process so far, in seconds, as
/// the kernel counts it in /proc/self/stat; negative when it cannot be read.
double ProcessCpuSeconds()
{
    std::ifstream in("/proc/self/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return -1.0;
    }
    // The command name in parentheses may hold blanks: the fields after it are counted
    // from its closing parenthesis (state is field 3, utime 14, stime 15).
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return -1.0;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    long long utime = -1;
    long long stime = -1;
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14) {
            utime = std::atoll(field.c_str());
        } else if (n == 15) {
            stime = std::atoll(field.c_str());
        }
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    if (utime < 0 || stime < 0 || ticks <= 0) {
        return -1.0;
    }
    return static_cast<double>(utime + stime) / static_cast<double>(ticks);
}

/// Runs the spectrum analyser as a user would (START on its page, the run mode and size
/// from the configuration) and reports the process's processor time per second of wall
/// time, the spectra shown per second, the paints of the diagram's plot per second and
/// their mean bounding size over a measuring window, then quits (for
/// `--cpu-probe`). The first seconds after START are left out: start-up work settles.
class CpuProbe : public QObject {
public:
    CpuProbe(sonvera::SonveraProgram& program, double seconds) : program_(program), seconds_(seconds) {}

    void Begin()
    {
        auto* start = program_.Main().findChild<QPushButton*>(QStringLiteral("StartButton"));
        if (start == nullptr || program_.Diagram() == nullptr) {
            std::cout << "cpu-probe no spectrum page" << std::endl;
            QApplication::exit(1);
            return;
        }
        start->click();
        QTimer::singleShot(kSettleMs, this, [this] {
            program_.Diagram()->installEventFilter(this);
            paints_ = 0;
            resultsStart_ = program_.Main().Spectrum().ResultsShown();
            cpuStart_ = ProcessCpuSeconds();
            wallStart_ = std::chrono::steady_clock::now();
            QTimer::singleShot(static_cast<int>(seconds_ * 1000.0), this, [this] { End(); });
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Paints of the plot only: the comment line's blinking cursor and the result
        // line repaint bands of the window too, but they show no spectrum.
        if (event->type() == QEvent::Paint) {
            const sonvera::DiagramRect r = program_.Diagram()->Model().Layout().PlotRect;
            const QRect plot(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
            const QRegion& region = static_cast<QPaintEvent*>(event)->region();
            if (region.intersects(plot)) {
                ++paints_;
                const QRect bounds = region.boundingRect();
                paintWidths_ += bounds.width();
                paintHeights_ += bounds.height();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static constexpr int kSettleMs = 3000;

    void End()
    {
        const double cpu = ProcessCpuSeconds() - cpuStart_;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart_).count();
        program_.Diagram()->removeEventFilter(this);
        if (cpuStart_ < 0.0 || cpu < 0.0 || wall <= 0.0) {
            std::cout << "cpu-probe /proc/self/stat unreadable" << std::endl;
            QApplication::exit(1);
            return;
        }
        const int results = program_.Main().Spectrum().ResultsShown() - resultsStart_;
        std::cout << "cpu-percent " << 100.0 * cpu / wall << "\n"
                  << "spectra-per-second " << results / wall << "\n"
                  << "plot-paints-per-second " << paints_ / wall << "\n"
                  << "plot-paint-size " << paintWidths_ / std::max(paints_, 1) << "x"
                  << paintHeights_ / std::max(paints_, 1) << "\n"
                  << "seconds " << wall << std::endl;
        QApplication::quit();
    }

    sonvera::SonveraProgram& program_;
    double seconds_;
    int paints_ = 0;
    long long paintWidths_ = 0;  // sums of the plot paints' bounding sizes
    long long paintHeights_ = 0;
    int resultsStart_ = 0;
    double cpuStart_ = -1.0;
    std::chrono::steady_clock::time_point wallStart_;
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
    double cpuProbeSeconds = 0.0;
    const auto cpuOption = std::find(opts.rest.begin(), opts.rest.end(), std::string("--cpu-probe"));
    if (cpuOption != opts.rest.end()) {
        const auto value = cpuOption + 1;
        char* end = nullptr;
        cpuProbeSeconds = value == opts.rest.end() ? 0.0 : std::strtod(value->c_str(), &end);
        if (value == opts.rest.end() || end == value->c_str() || *end != '\0' ||
            !(cpuProbeSeconds >= 1.0 && cpuProbeSeconds <= 3600.0)) {
            std::cerr << "sonvera: --cpu-probe needs a number of seconds from 1 to 3600\n";
            return 2;
        }
        opts.rest.erase(cpuOption, value + 1);
    }
    if (!opts.error.empty()) {
        std::cerr << "sonvera: " << opts.error << "\n";
        return 2;
    }
    if (opts.help) {
        std::cout << kUsage << "\nConfiguration file in force: " << sonvera::ConfigFilePath(opts.configPath) << "\n";
        return 0;
    }
    if (opts.version) {
        std::cout << sonvera::VersionLine("sonvera") << "\n";
        return 0;
    }
    if (!opts.rest.empty()) {
        std::cerr << "sonvera: unknown argument '" << opts.rest.front() << "'\n";
        return 2;
    }
    // Under Wayland the windows could not be placed side by side: XWayland can.
    const std::string platform = sonvera::PlatformForSession(std::getenv("QT_QPA_PLATFORM"),
                                                             std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"));
    if (!platform.empty()) {
        ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
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
    // Interrupted or killed politely, the program ends as if closed: every event loop
    // returns, a modal box's too (at start-up as well), no box opens any more, then the
    // program's shutdown gives the sound card's volumes back, saves the settings and
    // releases the configuration. A signal during the start while no box is open takes
    // effect when the event loop runs.
    sonvera::MessageBoxPrompts prompts;
    sonvera::ShutdownSignals shutdownSignals([&prompts](int) { prompts.EndSession(); });
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

    sonvera::SetPromptService(&prompts);
    int status = 0;
    int caughtSignal = 0;
    {
        const sonvera::ConfigLocation config = sonvera::LocateConfigFile(opts.configPath);
        sonvera::SonveraProgram program(*layer, config.path, config.perUser);
        if (const int started = program.Start(); started == sonvera::SonveraProgram::kQuitChosen) {
            status = 0;  // the user chose to leave the other running program alone
        } else if (started != 0) {
            status = 1;
        } else if (shutdownSignals.Received() == 0) {
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
            CpuProbe cpuProbe(program, cpuProbeSeconds);
            if (cpuProbeSeconds > 0.0) {
                QTimer::singleShot(1000, &cpuProbe, [&cpuProbe] { cpuProbe.Begin(); });
            }
            program.Show();
            status = QApplication::exec();
            if (startupProbe) {
                program.Main().removeEventFilter(&probe);
            }
        }
        caughtSignal = shutdownSignals.Received();
        prompts.SetParent(nullptr);
    }
    sonvera::SetPromptService(nullptr);
    if (caughtSignal != 0) {
        // Tell the parent how the program ended, now that everything is put back.
        std::signal(caughtSignal, SIG_DFL);
        std::raise(caughtSignal);
        return 128 + caughtSignal;
    }
    return status;
}
