// Correction curves: the spline against hand-computed values and the file loader.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "dsp/curve.h"

namespace sonvera {
namespace {

namespace fs = std::filesystem;

CorrectionCurve Curve(std::vector<CurveTablePoint> pts) {
    CorrectionCurve c;
    EXPECT_TRUE(SetCurvePoints(c, pts.data(), static_cast<int>(pts.size())));
    c.active = true;
    return c;
}

TEST(Spline, TwoPointsGiveTheStraightLineExtendedBeyondThem) {
    const CorrectionCurve c = Curve({{100, 0}, {1000, 10}});
    EXPECT_DOUBLE_EQ(EvalCurve(c, 550), 5.0);
    EXPECT_DOUBLE_EQ(EvalCurve(c, 1900), 20.0);
    EXPECT_DOUBLE_EQ(EvalCurve(c, 10), -1.0);
}

TEST(Spline, ThreePointsMatchTheHandComputedCubic) {
    const CorrectionCurve c = Curve({{100, 0}, {1000, 10}, {10000, 0}});
    // r(2) = 6*((0-10)/9000 - (10-0)/900)/9900 = -1/135000 and M(2) = r(2)/2.
    EXPECT_NEAR(c.points[1].M, -1.0 / 270000.0, 1e-18);
    EXPECT_DOUBLE_EQ(c.points[0].M, 0.0);
    EXPECT_DOUBLE_EQ(c.points[2].M, 0.0);
    EXPECT_NEAR(EvalCurve(c, 100), 0.0, 1e-12);
    EXPECT_NEAR(EvalCurve(c, 1000), 10.0, 1e-12);
    EXPECT_NEAR(EvalCurve(c, 10000), 0.0, 1e-12);
    // t = 450, h = 900: 450*(10/900 + 900/(6*270000)) - 450^3/(270000*6*900) = 5.1875.
    EXPECT_NEAR(EvalCurve(c, 550), 5.1875, 1e-12);
}

TEST(Spline, IsSmoothAtInnerPointsAndNaturalAtTheEnds) {
    const CorrectionCurve c = Curve({{20, -3}, {50, 1}, {200, 4}, {1000, 0}, {5000, 2}, {20000, -6}});
    const double e = 1e-3;
    for (int j = 1; j <= 4; ++j) {
        const double x = c.points[static_cast<std::size_t>(j)].x;
        const double left = (EvalCurve(c, x) - EvalCurve(c, x - e)) / e;
        const double right = (EvalCurve(c, x + e) - EvalCurve(c, x)) / e;
        EXPECT_NEAR(left, right, 1e-3 * (1.0 + std::fabs(left))) << x;
        EXPECT_NEAR(EvalCurve(c, x), c.points[static_cast<std::size_t>(j)].y, 1e-9);
    }
    // Second derivative by central differences vanishes at both end points.
    for (double x : {20.0, 20000.0}) {
        const double h = 0.5;
        const double d2 = (EvalCurve(c, x + h) - 2 * EvalCurve(c, x) + EvalCurve(c, x - h)) / (h * h);
        EXPECT_NEAR(d2, 0.0, 1e-6) << x;
    }
}

TEST(Spline, OnePointCurveHasItsValueEverywhere) {
    const CorrectionCurve c = Curve({{1000, 2.5}});
    for (double f : {0.0, 10.0, 1000.0, 48000.0, -5.0}) EXPECT_DOUBLE_EQ(EvalCurve(c, f), 2.5);
    EXPECT_DOUBLE_EQ(ApplyCurve(c, 1.0, 50.0, 10.0), 7.5);
}

TEST(Spline, RepeatedOrFallingFrequenciesNeverGiveNonFiniteValues) {
    const CurveTablePoint bad[] = {{100, 0}, {100, 5}, {50, 1}};
    CorrectionCurve c;
    EXPECT_FALSE(SetCurvePoints(c, bad, 3));
    EXPECT_EQ(c.count, 0);
    // A curve assembled by hand with a repeated frequency still evaluates finitely.
    c.count = 3;
    c.active = true;
    c.points.assign(4, CurvePoint{});
    c.points[0].x = 100;
    c.points[1].x = 100;
    c.points[1].y = 5;
    c.points[2].x = 1000;
    c.points[2].y = 1;
    PrepareSpline(c);
    for (double f : {10.0, 100.0, 500.0, 5000.0}) EXPECT_TRUE(std::isfinite(EvalCurve(c, f))) << f;
}

TEST(ApplyCurve, ActsOnlyWhenActiveAndNotEmpty) {
    CorrectionCurve c = Curve({{100, 0}, {1000, 10}});
    EXPECT_DOUBLE_EQ(ApplyCurve(c, 1.0, 550, 20.0), 15.0);
    EXPECT_DOUBLE_EQ(ApplyCurve(c, -1.0, 550, 20.0), 25.0);
    c.active = false;
    EXPECT_DOUBLE_EQ(ApplyCurve(c, 1.0, 550, 20.0), 20.0);
    CorrectionCurve empty;
    empty.active = true;
    EXPECT_DOUBLE_EQ(ApplyCurve(empty, 1.0, 550, 20.0), 20.0);
}

struct Recorder : CurveMessageSink {
    std::vector<std::string> messages;
    void Warning(const std::string& text) override { messages.push_back(text); }
};

class CurveFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("sonvera_curve_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& content) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

    fs::path dir_;
    Recorder sink_;
};

TEST_F(CurveFileTest, ReadsBlanksLineEndingsAndStopsAtCode26) {
    const std::string file = Write("ok.cor",
                                   "  20   -3  \r\n"
                                   "\n   \n"
                                   "\t1000 \t 0\t\r"
                                   "5e3 +1.5E0\n"
                                   "12000 2.\n"
                                   "\x1a"
                                   "this is not read\n");
    CurveFileLoader loader(sink_);
    CorrectionCurve c;
    ASSERT_TRUE(loader.LoadCurveFile(c, file));
    EXPECT_TRUE(sink_.messages.empty());
    ASSERT_EQ(c.count, 4);
    EXPECT_EQ(c.fileName, file);
    EXPECT_FALSE(c.active);
    EXPECT_DOUBLE_EQ(c.points[0].x, 20);
    EXPECT_DOUBLE_EQ(c.points[0].y, -3);
    EXPECT_DOUBLE_EQ(c.points[1].x, 1000);
    EXPECT_DOUBLE_EQ(c.points[2].x, 5000);
    EXPECT_DOUBLE_EQ(c.points[2].y, 1.5);
    EXPECT_DOUBLE_EQ(c.points[3].y, 2.0);
    EXPECT_NEAR(EvalCurve(c, 5000), 1.5, 1e-12);
}

TEST_F(CurveFileTest, LongLinesAreCutAt255Characters) {
    // The value ends at character 255; what follows on that line is dropped.
    std::string longLine = "1000" + std::string(250, ' ') + "5" + std::string(45, 'x');
    ASSERT_EQ(longLine.size(), 300u);
    const std::string file = Write("long.cor", longLine + "\n2000 1\n");
    CurveFileLoader loader(sink_);
    CorrectionCurve c;
    ASSERT_TRUE(loader.LoadCurveFile(c, file));
    ASSERT_EQ(c.count, 2);
    EXPECT_DOUBLE_EQ(c.points[0].y, 5);
    EXPECT_DOUBLE_EQ(c.points[1].x, 2000);

    // A value that only ends after character 255 is cut and then read as far as kept.
    const std::string cut = Write("cut.cor", "1000" + std::string(240, ' ') + "5." + std::string(54, '1') + "\n");
    ASSERT_TRUE(loader.LoadCurveFile(c, cut));
    EXPECT_DOUBLE_EQ(c.points[0].y, 5.111111111);
}

TEST_F(CurveFileTest, TabSeparatorDecimalCommaAndTrailingTextAreLineErrors) {
    CurveFileLoader loader(sink_);
    loader.SetCurveMessages('E');
    // The message names the first bad line, blank lines and any line end counted.
    const std::pair<std::string, const char*> cases[] = {
        {"1000\t0\n", "Line error in line 1"},        {"1000 0,5\n", "Line error in line 1"},
        {"1000 0 dB\n", "Line error in line 1"},       {"1e3\n", "Line error in line 1"},
        {"1000 1e999\n", "Line error in line 1"},      {"1000 .5\n", "Line error in line 1"},
        {"200 1\n100 2\n", "Line error in line 2"},    {"100 1\n100 2\n", "Line error in line 2"},
        {"100 1\r\n\r\n  \n200 2\rx\n9 9\n", "Line error in line 5"},
    };
    for (const auto& [content, message] : cases) {
        CorrectionCurve c = Curve({{100, 0}, {1000, 10}});
        const std::string file = Write("bad.cor", content);
        sink_.messages.clear();
        EXPECT_FALSE(loader.LoadCurveFile(c, file)) << content;
        ASSERT_EQ(sink_.messages.size(), 1u) << content;
        EXPECT_EQ(sink_.messages[0], message);
        // The previously held curve is gone: empty and inactive.
        EXPECT_EQ(c.count, 0);
        EXPECT_FALSE(c.active);
        EXPECT_DOUBLE_EQ(ApplyCurve(c, 1.0, 500, 3.0), 3.0);
    }
}

TEST_F(CurveFileTest, BlankOnlyFileReportsNoLinesInBothLanguages) {
    const std::string file = Write("blank.cor", "\n   \r\n\t\n");
    CurveFileLoader loader(sink_);
    CorrectionCurve c;
    EXPECT_FALSE(loader.LoadCurveFile(c, file));
    loader.SetCurveMessages('E');
    EXPECT_FALSE(loader.LoadCurveFile(c, file));
    loader.SetCurveMessages('x');  // ignored
    EXPECT_FALSE(loader.LoadCurveFile(c, file));
    loader.SetCurveMessages('D');
    EXPECT_FALSE(loader.LoadCurveFile(c, file));
    EXPECT_EQ(sink_.messages,
              (std::vector<std::string>{"Keine Zeilen in Datei", "No lines in file",
                                        "No lines in file", "Keine Zeilen in Datei"}));
    EXPECT_EQ(c.count, 0);
}

TEST_F(CurveFileTest, MissingFileIsCreatedWithOnePointAndLoaded) {
    const fs::path file = dir_ / "new.cor";
    CurveFileLoader loader(sink_);
    CorrectionCurve c;
    ASSERT_TRUE(loader.LoadCurveFile(c, file.string()));
    EXPECT_TRUE(sink_.messages.empty());
    std::ifstream in(file, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "1000 0\n");
    ASSERT_EQ(c.count, 1);
    c.active = true;
    EXPECT_DOUBLE_EQ(EvalCurve(c, 20.0), 0.0);
    EXPECT_DOUBLE_EQ(ApplyCurve(c, 1.0, 20000.0, -7.0), -7.0);
}

TEST_F(CurveFileTest, UncreatableFileReportsAndKeepsTheCurve) {
    const std::string file = (dir_ / "no_such_dir" / "x.cor").string();
    CurveFileLoader loader(sink_);
    CorrectionCurve c = Curve({{100, 0}, {1000, 10}});
    EXPECT_FALSE(loader.LoadCurveFile(c, file));
    loader.SetCurveMessages('E');
    EXPECT_FALSE(loader.LoadCurveFile(c, file));
    EXPECT_EQ(sink_.messages, (std::vector<std::string>{"Kann Datei nicht erzeugen", "Unable to create file"}));
    EXPECT_EQ(c.count, 2);
    EXPECT_TRUE(c.active);
}

TEST_F(CurveFileTest, EmptyNameFailsSilently) {
    CurveFileLoader loader(sink_);
    CorrectionCurve c = Curve({{100, 0}, {1000, 10}});
    EXPECT_FALSE(loader.LoadCurveFile(c, ""));
    EXPECT_TRUE(sink_.messages.empty());
    EXPECT_EQ(c.count, 2);
}

// Opens normally the first time, then fails: the second pass cannot reopen the file.
class FailingReopenLoader : public CurveFileLoader {
public:
    using CurveFileLoader::CurveFileLoader;
    int opens = 0;

protected:
    std::FILE* OpenForReading(const std::string& fileName) override {
        if (++opens >= 2) return nullptr;
        return CurveFileLoader::OpenForReading(fileName);
    }
};

TEST_F(CurveFileTest, ReopenFailureLeavesAnEmptyCurveAndNamesTheFile) {
    const std::string file = Write("re.cor", "100 0\n1000 10\n");
    FailingReopenLoader loader(sink_);
    loader.SetCurveMessages('E');
    CorrectionCurve c = Curve({{100, 3}, {1000, 3}});
    EXPECT_FALSE(loader.LoadCurveFile(c, file));
    ASSERT_EQ(sink_.messages.size(), 1u);
    EXPECT_EQ(sink_.messages[0], "Error at reading of : " + file);
    EXPECT_EQ(c.count, 0);
    EXPECT_FALSE(c.active);
    c.active = true;  // even if a caller activates it, it changes nothing
    EXPECT_DOUBLE_EQ(ApplyCurve(c, 1.0, 500, 4.0), 4.0);

    FailingReopenLoader german(sink_);
    EXPECT_FALSE(german.LoadCurveFile(c, file));
    EXPECT_EQ(sink_.messages[1], "Fehler beim Lesen von : " + file);
}

// Cannot open anything, as for a file without read permission.
class UnreadableLoader : public CurveFileLoader {
public:
    using CurveFileLoader::CurveFileLoader;

protected:
    std::FILE* OpenForReading(const std::string&) override { return nullptr; }
};

TEST_F(CurveFileTest, ExistingUnreadableFileIsNeverOverwritten) {
    const std::string file = Write("keep.cor", "20 -3\n1000 0\n");
    UnreadableLoader loader(sink_);
    loader.SetCurveMessages('E');
    CorrectionCurve c = Curve({{100, 1}, {1000, 2}});
    EXPECT_FALSE(loader.LoadCurveFile(c, file));
    EXPECT_EQ(sink_.messages, (std::vector<std::string>{"Error at reading of : " + file}));
    EXPECT_EQ(c.count, 2);  // the curve held before is kept
    std::ifstream in(file, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "20 -3\n1000 0\n");
}

TEST_F(CurveFileTest, DirectoryIsReportedAsUnreadable) {
    CurveFileLoader loader(sink_);
    CorrectionCurve c = Curve({{100, 1}, {1000, 2}});
    EXPECT_FALSE(loader.LoadCurveFile(c, dir_.string()));
    EXPECT_EQ(sink_.messages, (std::vector<std::string>{"Fehler beim Lesen von : " + dir_.string()}));
    EXPECT_EQ(c.count, 2);
}

TEST(CurveLine, StrictNumbersOnly) {
    double v = 0;
    EXPECT_TRUE(ParseStrictReal("-12.5e-1", v));
    EXPECT_DOUBLE_EQ(v, -1.25);
    EXPECT_TRUE(ParseStrictReal("+7", v));
    EXPECT_DOUBLE_EQ(v, 7);
    for (const char* bad : {"", "+", "1,5", "1.5.2", "e5", "1e", "0x10", "1 ", "inf", "nan", "1'000"}) {
        EXPECT_FALSE(ParseStrictReal(bad, v)) << bad;
    }
}

}  // namespace
}  // namespace sonvera
