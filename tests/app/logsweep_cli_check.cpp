// Runs the built "sonvera-cli logsweep" on the virtual card as a user would: its table and
// delay, the impulse response file, and the refusal of bad values.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "tests/config/testfiles.h"
#include "tests/support/runcommand.h"

namespace sonvera {
namespace {

struct CliRun {
    int status = -1;
    std::vector<std::string> comments;           // the '# ' lines
    std::vector<std::vector<std::string>> rows;  // the table, field by field
    std::string errors;                          // standard error
};

CliRun LogSweep(const std::string& dut, const std::string& arguments)
{
    testing::TempDir dir;
    const std::string err = dir.File("err.txt");
    const testing::CommandResult r =
        testing::RunCommand(std::string("'") + SONVERA_CLI + "' --audio virtual " +
                            (dut.empty() ? std::string() : "--dut '" + dut + "' ") + "--config '" +
                            dir.File("absent.cfg") + "' logsweep " + arguments + " 2>'" + err + "'");
    CliRun run;
    run.status = r.status;
    run.errors = testing::ReadBytes(err);
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# ", 0) == 0) {
            run.comments.push_back(line);
            continue;
        }
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ',')) {
            fields.push_back(cell);
        }
        run.rows.push_back(fields);
    }
    return run;
}

TEST(LogSweepCommand, PrintsTheDelayOfTheDeviceAndOneLinePerFrequency)
{
    const CliRun r = LogSweep("hp=100,lp=5000,delay=37", "--rate 48000");
    ASSERT_EQ(r.status, 0) << r.errors;
    ASSERT_GE(r.comments.size(), 4u);
    EXPECT_EQ(r.comments[1], "# delay 37.0 samples 0.771 ms");
    EXPECT_EQ(r.comments[2].rfind("# window ", 0), 0u);
    ASSERT_EQ(r.rows.size(), 479u);  // 20 Hz * 2^(i/48) up to 20 kHz
    for (const auto& row : r.rows) {
        ASSERT_EQ(row.size(), 8u);  // frequency, level, phase, H2 .. H5, THD
        EXPECT_LE(std::fabs(std::atof(row[2].c_str())), 180.0);
    }
    // Above a third of the band's top the third harmonic is not measured.
    EXPECT_EQ(r.rows.back()[4], "nan");
    EXPECT_NE(r.rows.front()[4], "nan");
}

TEST(LogSweepCommand, WritesTheLinearImpulseResponseUnscaled)
{
    testing::TempDir dir;
    const std::string wav = dir.File("ir.wav");
    const CliRun r = LogSweep("gain=-6,delay=5", "--rate 48000 --seconds 1 --ir-out '" + wav + "'");
    ASSERT_EQ(r.status, 0) << r.errors;
    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    std::vector<float> ir(static_cast<std::size_t>(info.frames));
    ASSERT_EQ(sf_readf_float(f, ir.data(), info.frames), info.frames);
    sf_close(f);
    // A gain of -6 dB and nothing else: the samples add up to that gain.
    EXPECT_NEAR(std::accumulate(ir.begin(), ir.end(), 0.0), std::pow(10.0, -6.0 / 20.0), 0.01);
}

TEST(LogSweepCommand, BadValuesGiveOneLineAndStatusTwoAndNoSignalIsAnError)
{
    // The values of the sweep, and options that cannot be read: one line naming what is
    // wrong (the usage stays behind --help).
    const std::vector<std::string> bad = {"--from 1000 --to 1000", "--rate 48000 --to 24001", "--seconds 0.4",
                                          "--seconds 61",          "--level 0.5",             "--points-per-octave 0",
                                          "--ref --stereo",        "--from x"};
    for (const std::string& arguments : bad) {
        const CliRun r = LogSweep("", arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_TRUE(r.rows.empty() && r.comments.empty()) << arguments;
        EXPECT_EQ(r.errors.rfind("sonvera-cli logsweep: ", 0), 0u) << arguments;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
    }
    const CliRun silent = LogSweep("gain=-200", "");
    EXPECT_EQ(silent.status, 1);
    EXPECT_TRUE(silent.rows.empty());
    EXPECT_EQ(silent.errors, "sonvera-cli logsweep: No signal at the right input ! \n");
}

TEST(LogSweepCommand, AnalysesARecordingOfTheGeneratedFileAndSaysWhatIsMissing)
{
    testing::TempDir dir;
    const std::string sweep = dir.File("s.wav"), tone = dir.File("tone.wav"), ir = dir.File("ir.wav");
    auto generate = [&](const std::string& arguments) {
        return testing::RunCommand(std::string("'") + SONVERA_CLI + "' --config '" + dir.File("absent.cfg") +
                                   "' generate " + arguments + " 2>/dev/null")
            .status;
    };
    ASSERT_EQ(generate("--wave logsweep --seconds 1 --rate 44100 --bits 24 --out '" + sweep + "'"), 0);
    ASSERT_EQ(generate("--wave sin --seconds 4 --out '" + tone + "'"), 0);
    struct Case {
        std::string arguments;
        int status;
        std::string firstLine;  // of the table's '# ' lines, or of the errors
    };
    const Case cases[] = {
        {"--input '" + sweep + "' --seconds 1 --ir-out '" + ir + "'", 0,
         "# logsweep from 20.00 Hz to 20000.00 Hz, 1.00 s, -6.0 dB, 44100 Hz, mono, 48 points per octave"},
        {"--input '" + tone + "'", 1, "sonvera-cli logsweep: " + tone + " holds no timing marker"},
        {"--input '" + sweep + "' --seconds 3", 1, "sonvera-cli logsweep: " + sweep + " ends "},
        {"--input '" + dir.File("none.wav") + "'", 1, "sonvera-cli logsweep: " + dir.File("none.wav") + ": "},
        {"--input '" + sweep + "' --to 30000", 2, "sonvera-cli logsweep: --to 30000 Hz lies above half the rate"},
        {"--input '" + sweep + "' --rate 48000", 2, "sonvera-cli logsweep: --input takes the place of the devices"},
        {"--input '" + sweep + "' --bits 24", 2, "sonvera-cli logsweep: --input takes the place of the devices"},
        {"--bits 12", 2, "sonvera-cli logsweep: --bits must be 8, 16 or 24"},
        {"--mono", 2, "sonvera-cli logsweep: --mono needs --input"},
    };
    for (const Case& c : cases) {
        const CliRun r = LogSweep("", c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.errors;
        const std::string first = c.status == 0 ? (r.comments.empty() ? "" : r.comments[0]) : r.errors;
        EXPECT_EQ(first.rfind(c.firstLine, 0), 0u) << first;
        if (c.status == 0) {
            ASSERT_GE(r.comments.size(), 5u);
            EXPECT_EQ(r.comments[1], "# delay 0.0 samples 0.000 ms");
            EXPECT_EQ(r.comments[4].rfind("# recording ", 0), 0u);
            EXPECT_EQ(r.rows.size(), 479u);
            EXPECT_FALSE(testing::ReadBytes(ir).empty());
        }
    }
}

}  // namespace
}  // namespace sonvera
