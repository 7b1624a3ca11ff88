// sonvera: the measuring program's window.
#include <QApplication>
#include <QMainWindow>

#include <cstdio>
#include <iostream>

#include "app/display.h"
#include "app/options.h"
#include "config/configpath.h"

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

    QApplication app(argc, argv);
    QMainWindow window;
    window.setObjectName("MainForm");
    window.setWindowTitle("Sonvera V 1.3");
    window.resize(640, 400);
    window.show();
    return QApplication::exec();
}
