// The analysis of a recording of the sweep file: the file passed through a peaking filter
// computed here from its textbook formulas, delayed and attenuated, saved as a wave file
// and read back; the analytic response and the delay are the reference.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "dsp/timingmarker.h"
#include "measure/logsweepfile.h"
#include "tests/support/tempdir.h"

namespace sonvera {
namespace {

constexpr double kPi = std::numbers::pi;

/// A peaking equaliser: +6 dB at 1 kHz, Q 1.4 (the audio cookbook's formulas).
struct Peaking {
    double b0, b1, b2, a1, a2;
    explicit Peaking(double rate)
    {
        const double a = std::pow(10.0, 6.0 / 40.0);
        const double w0 = 2.0 * kPi * 1000.0 / rate;
        const double alpha = std::sin(w0) / (2.0 * 1.4);
        const double a0 = 1.0 + alpha / a;
        b0 = (1.0 + alpha * a) / a0;
        b1 = -2.0 * std::cos(w0) / a0;
        b2 = (1.0 - alpha * a) / a0;
        a1 = b1;
        a2 = (1.0 - alpha / a) / a0;
    }
    std::complex<double> At(double f, double rate) const
    {
        const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * f / rate);
        return (b0 + b1 * z1 + b2 * z1 * z1) / (1.0 + a1 * z1 + a2 * z1 * z1);
    }
    std::vector<float> Run(const std::vector<float>& x, std::size_t delay, double gain) const
    {
        std::vector<float> y(x.size() + delay, 0.0f);
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (std::size_t n = 0; n < x.size(); ++n) {
            const double v = b0 * x[n] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x[n];
            y2 = y1;
            y1 = v;
            y[n + delay] = static_cast<float>(gain * v);
        }
        return y;
    }
};

void WriteWave(const std::string& path, const std::vector<float>& left, const std::vector<float>& right, int rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const std::size_t frames = std::max(left.size(), right.size());
    std::vector<float> data(2 * frames, 0.0f);
    for (std::size_t i = 0; i < frames; ++i) {
        data[2 * i] = i < left.size() ? left[i] : 0.0f;
        data[2 * i + 1] = i < right.size() ? right[i] : 0.0f;
    }
    sf_writef_float(f, data.data(), static_cast<sf_count_t>(frames));
    sf_close(f);
}

TEST(LogSweepFile, ReadsAFilteredDelayedRecordingOfTheSweepFile)
{
    struct Case {
        const char* name;
        int madeAtHz;       // the rate the recording's samples really run at
        int fileHz;         // the rate its header gives
        bool withReference; // the left channel carries the file itself
        LogSweepFileProblem problem;
        double levelTolDb;
        bool checkPhaseAndDelay;
    };
    const Case cases[] = {
        {"one channel against the sweep", 48000, 48000, false, LogSweepFileProblem::None, 0.05, true},
        {"right against the left channel", 48000, 48000, true, LogSweepFileProblem::None, 0.05, true},
        {"recorder 0.1 % fast, corrected", 48048, 48000, false, LogSweepFileProblem::None, 0.1, false},
        {"made at 48 kHz, marked 44.1 kHz", 48000, 44100, false, LogSweepFileProblem::RateMismatch, 0, false},
    };
    constexpr std::size_t kDelay = 480;
    const double gain = std::pow(10.0, -3.0 / 20.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogSweepParams p;
        p.fromHz = 20.0;
        p.toHz = 20000.0;
        p.seconds = 2.0;
        p.levelDb = -6.0;
        p.rateHz = c.madeAtHz;
        const std::vector<float> file = MakeMarkedLogSweep(DesignLogSweep(p));
        const Peaking filter(c.madeAtHz);
        const std::vector<float> recorded = filter.Run(file, kDelay, gain);
        testing::TempDir dir;
        const std::string path = dir.File("rec.wav");
        WriteWave(path, c.withReference ? file : recorded, recorded, c.fileHz);

        const LogSweepFileOutcome o = AnalyseLogSweepFile(
            path, p, c.withReference ? LogSweepInputMode::Reference : LogSweepInputMode::Stereo, 24);
        ASSERT_EQ(o.problem, c.problem);
        if (c.problem == LogSweepFileProblem::RateMismatch) {
            EXPECT_NEAR(o.recorderRateHz, c.madeAtHz, 1.0);
            EXPECT_EQ(o.fileRateHz, c.fileHz);
            continue;
        }
        EXPECT_EQ(o.rateCorrected, c.madeAtHz != c.fileHz);
        const LogSweepResult& r = o.result;
        if (c.checkPhaseAndDelay) {
            EXPECT_NEAR(r.DelaySamples(), static_cast<double>(kDelay), 0.1);
        }
        int checked = 0;
        for (std::size_t i = 0; i < r.freqHz.size(); ++i) {
            const double f = r.freqHz[i];
            if (f < 30.0 || f > 15000.0) {
                continue;
            }
            const std::complex<double> h = gain * filter.At(f, c.madeAtHz);
            EXPECT_NEAR(r.right.levelDb[i], 20.0 * std::log10(std::abs(h)), c.levelTolDb) << f << " Hz";
            if (c.checkPhaseAndDelay) {
                EXPECT_NEAR(std::remainder(r.right.phaseDeg[i] - std::arg(h) * 180.0 / kPi, 360.0), 0.0, 0.5)
                    << f << " Hz";
            }
            ++checked;
        }
        EXPECT_GT(checked, 200);
    }
}

}  // namespace
}  // namespace sonvera
