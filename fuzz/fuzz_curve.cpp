// Fuzz target: the correction-file loader. The input is the file's bytes, loaded from
// disk through both of the loader's passes. A loaded curve must hold its points in
// ascending order with finite values, and its spline must pass through them.

#include "fuzz/fuzz_curve.h"

#include <algorithm>
#include <cmath>

#include "fuzz/fuzzsupport.h"

namespace sonvera::fuzz {

namespace {

class RecordingSink : public CurveMessageSink {
public:
    explicit RecordingSink(std::vector<std::string>& warnings) : warnings_(warnings) {}
    void Warning(const std::string& text) override { warnings_.push_back(text); }

private:
    std::vector<std::string>& warnings_;
};

void CheckCurve(const CorrectionCurve& curve)
{
    Require(curve.count >= 1, "a loaded curve has points");
    Require(curve.points.size() == static_cast<std::size_t>(curve.count) + 1, "the points plus one spare entry");
    for (int i = 0; i < curve.count; ++i) {
        const CurvePoint& p = curve.points[static_cast<std::size_t>(i)];
        Require(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.M), "points and spline data are finite");
        Require(i == 0 || p.x > curve.points[static_cast<std::size_t>(i) - 1].x, "frequencies ascend strictly");
    }
    // Rounding errors of the spline grow with the largest of its terms, not with the
    // value at hand: a curve from 1e27 dB down to 0.001 dB, or with points 1e-300 Hz
    // apart next to points hundreds of hertz apart, cannot be exact everywhere. The
    // terms are the values and the second derivatives times the squared interval widths.
    double scale = 1.0;
    for (int i = 0; i < curve.count; ++i) {
        const CurvePoint& p = curve.points[static_cast<std::size_t>(i)];
        scale = std::max(scale, std::fabs(p.y));
        for (const int j : {i, i + 1}) {
            if (j >= 1 && j < curve.count) {
                const double h = curve.points[static_cast<std::size_t>(j)].h;
                scale = std::max(scale, std::fabs(p.M) * h * h);
            }
        }
    }
    for (int i = 0; i < curve.count; ++i) {
        const CurvePoint& p = curve.points[static_cast<std::size_t>(i)];
        const double at = EvalCurve(curve, p.x);
        Require(std::isfinite(at), "the curve is finite at its points");
        Require(std::fabs(at - p.y) <= 1e-6 * scale, "the curve passes through its points");
        if (i + 1 < curve.count) {
            const double mid = p.x + (curve.points[static_cast<std::size_t>(i) + 1].x - p.x) / 2.0;
            Require(std::isfinite(EvalCurve(curve, mid)), "the curve is finite between its points");
        }
    }
}

}  // namespace

CurveOutcome LoadCurveBytes(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFile scratch(".txt");
    scratch.Write(data, size);

    CurveOutcome out;
    RecordingSink sink(out.warnings);
    CurveFileLoader loader(sink);
    loader.SetCurveMessages('E');
    out.loaded = loader.LoadCurveFile(out.curve, scratch.Path());
    Require(out.loaded == out.warnings.empty(), "a load either succeeds silently or warns once");
    Require(out.warnings.size() <= 1, "at most one warning per load");
    Require(!out.curve.active, "a freshly loaded curve is inactive");
    if (out.loaded) {
        Require(out.curve.fileName == scratch.Path(), "the curve names its file");
        CheckCurve(out.curve);
    } else {
        Require(out.curve.count == 0, "a failed load leaves the curve empty");
    }
    return out;
}

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sonvera::fuzz::LoadCurveBytes(data, size);
    return 0;
}
