// sonvera-cli devices: the report of every audio device, as the feature list shows it.
#include <cstdlib>
#include <memory>
#include <string>

#include "app/cli.h"
#include "engine/soundengine.h"
#include "platform/wavelayer.h"

namespace sonvera {

const char* const kDevicesUsage = "Usage: sonvera-cli [--audio virtual|portaudio|jack|auto] [--dut SPEC] devices\n";

int RunDevicesCommand(CliContext& ctx)
{
    if (const int status = ctx.ReadOptions([](OptionCursor& c) { return "unexpected argument '" + c.Argument() + "'"; });
        status >= 0) {
        return status;
    }
    const AudioBackendChoice choice = ParseAudioBackend(ctx.options.audio, std::getenv("SONVERA_AUDIO"));
    if (!choice.error.empty()) {
        return ctx.Fail(2, choice.error);
    }
    DutConfig dut;
    if (const std::string error = DutFromOptions(ctx.options.dut, std::getenv("SONVERA_DUT"), dut); !error.empty()) {
        return ctx.Fail(2, error);
    }
    std::string error;
    std::unique_ptr<WaveLayer> layer = CreateWaveLayer(choice.backend, dut, error);
    if (!layer) {
        return ctx.Fail(1, error);
    }

    SoundEngine engine(*layer);
    int inputs = 0, outputs = 0;
    std::uint32_t captureFormats = 0;
    engine.BuildDeviceReport(inputs, outputs, captureFormats);
    // The round trip of the first pair, as a measurement would find it (real devices).
    if (captureFormats != 0 && outputs > 0 && engine.InitSoundEngine() == 0) {
        engine.MeasureRoundTrip();
        engine.ShutdownSoundEngine();
    }
    std::string text;
    for (const std::string& line : engine.DeviceReport()) {
        text += line + '\n';
    }
    return ctx.Print(text);
}

}  // namespace sonvera
