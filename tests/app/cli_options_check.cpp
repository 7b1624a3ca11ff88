// Black-box checks of how sonvera-cli reads its options and where it draws its limits:
// exit statuses (2 usage, 1 run-time), checked before anything is printed or written;
// clipping reported; a wave file analysed at its own depth.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "tests/config/testfiles.h"
#include "tests/support/runcommand.h"

namespace sonvera {
namespace {

struct Scratch {
    testing::TempDir dir;
    std::string table = dir.File("t.txt");
    std::string wav = dir.File("in.wav");
    std::string fifo = dir.File("fifo");
    std::string big = dir.File("big.txt");
    std::string out = dir.File("out.file");
    Scratch()
    {
        testing::WriteBytes(table, "20,-3.00\r\n1000,0.00\r\n20000,-12.50\r\n");
        ::mkfifo(fifo.c_str(), 0600);
        testing::RunCommand(std::string(SONVERA_CLI) + " generate --wave sin --seconds 0.2 --out '" + wav +
                            "' 2>/dev/null");
    }

    /// Runs sonvera-cli with `args`; its standard output, or with `errors` its standard error.
    testing::CommandResult Run(const std::string& args, bool errors = false) const
    {
        std::string a = args;
        for (const auto& [key, path] : {std::pair<std::string, std::string>{"{TAB}", table}, {"{IN}", wav},
                                        {"{FIFO}", fifo}, {"{BIG}", big}, {"{OUT}", out}}) {
            for (auto at = a.find(key); at != std::string::npos; at = a.find(key)) {
                a.replace(at, key.size(), "'" + path + "'");
            }
        }
        return testing::RunCommand(std::string("timeout 60 '") + SONVERA_CLI + "' --audio virtual --config '" +
                                   dir.File("absent.cfg") + "' " + a + (errors ? " 2>&1 >/dev/null" : " 2>/dev/null"));
    }
};

struct StatusRow {
    const char* args;
    int status;
    const char* printed;  // what standard output holds (status 0) or "" (nothing at all)
};

TEST(CliOptions, EveryCommandChecksItsOptionsAndLimitsBeforeItPrintsOrWrites)
{
    Scratch s;
    // A table file far beyond any table the diagram can hold.
    testing::WriteBytes(s.big, std::string(65u << 20, '\n'));
    const StatusRow rows[] = {
        // One pass from left to right: a value is a value, whatever it looks like.
        {"plot {TAB} --comment --version --png {OUT}", 0, "3 points\n"},
        {"sweep --help", 0, "Usage: sonvera-cli sweep"},
        {"--help spectrum", 0, "Usage: sonvera-cli spectrum"},
        {"--config= settings", 2, ""},
        {"settings --dut ''", 2, ""},
        {"settings --audio bogus", 2, ""},
        {"spectrum --thd=1", 2, ""},
        {"sweep --from 200 --to 2000 --steps 2 --sep ''", 2, ""},
        {"plot {TAB} --width 100", 2, ""},
        {"plot {TAB} --ymin 5 --ymax 1", 2, ""},
        {"spectrum --input {IN} --bits 24", 2, ""},
        // Sizes that are no power of two from 512 to 1048576, rates outside 8000..192000, a
        // start beyond the file's end or without a file.
        {"spectrum --points 3000", 2, ""},
        {"spectrum --points 2097152", 2, ""},
        {"spectrum --points 256", 2, ""},
        {"spectrum --rate 7999", 2, ""},
        {"spectrum --rate 192001", 2, ""},
        {"spectrum --skip 1", 2, ""},
        {"spectrum --input {IN} --skip -1", 2, ""},
        {"spectrum --input {IN} --skip 1000", 1, ""},
        // Tones the rate cannot carry, and no frame at all.
        {"spectrum --tone 30000 --rate 44100", 2, ""},
        {"spectrum --tone 22050 --rate 44100", 2, ""},
        {"scope --tone 24000", 2, ""},
        {"sweep --from 1000 --to 40000 --steps 3", 2, ""},
        {"generate --wave sin --freq 22049 --rate 44100 --seconds 1 --out {OUT}", 2, ""},
        {"generate --wave sqr --freq 22050 --rate 44100 --seconds 1 --out {OUT}", 2, ""},
        {"generate --wave sin --seconds 0.00001 --out {OUT}", 2, ""},
        // Inputs that are no regular files, or beyond any table, are refused (never waited for).
        {"spectrum --input {FIFO}", 1, ""},
        {"plot {FIFO} --png {OUT}", 1, ""},
        {"plot {BIG} --png {OUT}", 1, ""},
        // Outputs: a pipe nobody reads fails before anything plays (never waited for); a
        // wave file needs a regular file.
        {"logsweep --seconds 0.5 --out {FIFO}", 1, ""},
        {"spectrum --points 512 --out {FIFO}", 1, ""},
        {"plot {TAB} --png {FIFO}", 1, ""},
        {"logsweep --seconds 0.5 --ir-out {FIFO}", 2, ""},
        {"logsweep --seconds 0.5 --ir-out /dev/null", 2, ""},
        {"generate --wave sin --seconds 1 --out {FIFO}", 2, ""},
    };
    for (const StatusRow& row : rows) {
        SCOPED_TRACE(row.args);
        std::filesystem::remove(s.out);
        const auto r = s.Run(row.args);
        EXPECT_EQ(r.status, row.status);
        if (row.status == 0) {
            EXPECT_NE(r.output.find(row.printed), std::string::npos) << r.output;
        } else {
            EXPECT_EQ(r.output, "");
            EXPECT_FALSE(std::filesystem::exists(s.out));
        }
    }
}

TEST(CliOptions, AUsageErrorIsOneLine)
{
    Scratch s;
    for (const char* args : {"", "bogus", "--audio bogus settings", "spectrum --points 3", "sweep --steps x",
                             "plot", "generate --wave", "scope --timebase 9", "logsweep --from x"}) {
        SCOPED_TRACE(args);
        const auto r = s.Run(args, true);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    }
}

TEST(CliOptions, ClippedBlocksAreReportedBeforeTheResult)
{
    Scratch s;
    const auto sweep = s.Run("--dut gain=12 sweep --from 200 --to 2000 --steps 2 --level -6");
    ASSERT_EQ(sweep.status, 0);
    EXPECT_NE(sweep.output.find("\n# clipped at 3 of 3 steps: 200 Hz (Over "), std::string::npos) << sweep.output;

    const auto full = s.Run("--dut gain=0 spectrum --tone 1000:0 --points 512 --level");
    ASSERT_EQ(full.status, 0);
    const auto over = full.output.find("\n# Over ");
    ASSERT_NE(over, std::string::npos);
    EXPECT_LT(over, full.output.find("\n# Level:"));

    const auto clean = s.Run("--dut gain=0 spectrum --tone 1000:-6 --points 512 --level");
    ASSERT_EQ(clean.status, 0);
    EXPECT_EQ(clean.output.find("# Over"), std::string::npos);
}

TEST(CliOptions, AWaveFileIsAnalysedAtItsOwnDepth)
{
    // Half scale at 1 kHz with a third harmonic 100 dB below it, in 24 bits: re-quantised
    // to 16 bits its noise alone would read about -91 dB.
    Scratch s;
    const std::string path = s.dir.File("deep.wav");
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<double> samples(4096 * 4);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double w = 2.0 * std::numbers::pi * 1000.0 * static_cast<double>(n) / 44100.0;
        samples[n] = 0.5 * std::sin(w) + 0.5e-5 * std::sin(3.0 * w);
    }
    ASSERT_EQ(sf_write_double(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    const auto r = s.Run("spectrum --input '" + path + "' --thd --points 4096 --window 4 --average 4");
    ASSERT_EQ(r.status, 0);
    const auto at = r.output.find("# THD+N:  LI ");
    ASSERT_NE(at, std::string::npos) << r.output;
    const double left = std::atof(r.output.c_str() + r.output.find("Hz ", at) + 3);
    EXPECT_NEAR(left, -100.0, 1.0) << r.output.substr(at);
}

}  // namespace
}  // namespace sonvera
