// sonvera-cli devices: the report of every audio device, as the feature list shows it.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/cli.h"
#include "engine/soundengine.h"
#include "platform/wavelayer.h"

namespace sonvera {

int RunDevicesCommand(const CliContext& ctx)
{
    if (!ctx.args.empty()) {
        std::cerr << "sonvera-cli devices: unexpected argument '" << ctx.args.front() << "'\n"
                  << "Usage: sonvera-cli [--audio virtual|portaudio|auto] [--dut SPEC] devices\n";
        return 2;
    }
    const AudioBackendChoice choice = ParseAudioBackend(ctx.options.audio, std::getenv("SONVERA_AUDIO"));
    if (!choice.error.empty()) {
        std::cerr << "sonvera-cli devices: " << choice.error << "\n";
        return 2;
    }
    DutConfig dut;
    const std::string dutError = DutFromOptions(ctx.options.dut, std::getenv("SONVERA_DUT"), dut);
    if (!dutError.empty()) {
        std::cerr << "sonvera-cli devices: " << dutError << "\n";
        return 2;
    }
    std::string error;
    std::unique_ptr<WaveLayer> layer = CreateWaveLayer(choice.backend, dut, error);
    if (!layer) {
        std::cerr << "sonvera-cli devices: " << error << "\n";
        return 1;
    }

    SoundEngine engine(*layer);
    int inputs = 0, outputs = 0;
    std::uint32_t captureFormats = 0;
    engine.BuildDeviceReport(inputs, outputs, captureFormats);
    for (const std::string& line : engine.DeviceReport()) {
        std::cout << line << '\n';
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

}  // namespace sonvera
