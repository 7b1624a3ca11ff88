// Runs the built sonvera-cli "scope" on the virtual card as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

struct ScopeResult {
    int status = -1;
    std::vector<std::string> comments;
    std::vector<double> t, ch1, ch2;
};

ScopeResult RunScope(const std::string& arguments)
{
    ScopeResult r;
    testing::TempDir dir;
    const std::string cmd = std::string("'") + SONVERA_CLI + "' --audio virtual --config '" +
                            dir.File("absent.cfg") + "' scope " + arguments + " 2>/dev/null";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    std::string out;
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '#') {
            r.comments.push_back(line);
            continue;
        }
        std::istringstream fields(line);
        double a = 0, b = 0, c = 0;
        if (fields >> a >> b >> c) {
            r.t.push_back(a);
            r.ch1.push_back(b);
            r.ch2.push_back(c);
        }
    }
    return r;
}

TEST(ScopeCommand, BadValuesAreRefusedWithUsageStatus)
{
    for (const char* args : {"--timebase 9", "--timebase 0", "--div1 15", "--div2 x", "--trigger ch3",
                             "--slope up", "--trigger-level 2.5", "--trigger-level 1,5", "--tone 0",
                             "--tone 1000:3", "--tone 1000:-101", "--tone abc", "--tone 30000",
                             "--out", "--bogus"}) {
        EXPECT_EQ(RunScope(args).status, 2) << args;
    }
}

TEST(ScopeCommand, ToneOnTheVirtualCardComesOutInDivisionsWithTheTriggerAtTheStart)
{
    // 1 kHz at -6 dB; 268 mV calibration: full scale is 0.402 V, so 200 mV/div shows
    // 2 * 0.501 * 0.402 / 0.2 = 2.015 divisions peak to peak.
    const ScopeResult r = RunScope("--tone 1000:-6 --div1 11 --div2 11 --timebase 5");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.t.size(), 512u);
    EXPECT_NEAR(r.t[1] - r.t[0], 1.0 / 44100.0, 1e-7);
    EXPECT_NEAR(r.t[511], 511.0 / 44100.0, 1e-7);
    const auto [mn2, mx2] = std::minmax_element(r.ch2.begin(), r.ch2.end());
    const double expected = 2.0 * std::pow(10.0, -6.0 / 20.0) * 0.402 / 0.2;
    EXPECT_NEAR(*mx2 - *mn2, expected, 0.02);
    EXPECT_NEAR((*mx2 + *mn2) / 2.0, 3.0, 0.01);
    // Rising trigger at 0 on channel 1 (position 5): the trace starts just above 5.
    EXPECT_GT(r.ch1[0], 5.0);
    EXPECT_LT(r.ch1[0], 5.1);
    EXPECT_GT(r.ch1[1], r.ch1[0]);
    ASSERT_GE(r.comments.size(), 2u);
    EXPECT_NE(r.comments[1].find("found at frame"), std::string::npos);
}

TEST(ScopeCommand, GroundedChannelAndLongTimeBase)
{
    const ScopeResult r = RunScope("--tone 200 --gnd2 --timebase 8");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.t.size(), 1224u);  // 2448 frames at 11025 Hz
    EXPECT_NEAR(r.t[1], 1.0 / 11025.0, 1e-7);
    for (double v : r.ch2) {
        ASSERT_EQ(v, 3.0);
    }
}

TEST(ScopeCommand, WritesTextFileAndPicture)
{
    testing::TempDir dir;
    const std::string txt = dir.File("points.txt");
    const std::string png = dir.File("view.png");
    const ScopeResult r = RunScope("--tone 700 --out '" + txt + "' --png '" + png + "'");
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.t.empty());  // nothing on standard output
    std::ifstream t(txt);
    std::string first;
    std::getline(t, first);
    EXPECT_EQ(first.rfind("# time base 1ms/div, 44100 Hz, 1024 frames", 0), 0u);
    std::ifstream p(png, std::ios::binary);
    char magic[8] = {};
    p.read(magic, 8);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

TEST(ScopeCommand, UnwritableOutputIsAFailure)
{
    EXPECT_EQ(RunScope("--out /nonexistent-dir/points.txt").status, 1);
}

}  // namespace
}  // namespace sonvera
