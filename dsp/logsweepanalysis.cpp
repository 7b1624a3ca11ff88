#include "dsp/logsweepanalysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <new>
#include <numbers>

#include "dsp/biquad.h"
#include "dsp/realtransform.h"

namespace sonvera {

namespace {

using Complex = std::complex<double>;

constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The deconvolution divides by the reference's spectrum. Bins whose power lies far
// (60 dB) below what the sweep puts there (its power falls as 1/f) are held down instead
// of divided by almost nothing: outside the sweep's band the division would only
// multiply noise.
constexpr double kRegularisation = 1e-6;
// An input shows the sweep when its power over the loudest stretch as long as the sweep
// (wherever a delay put the sweep) is at least this many times its power in the quiet
// time at the end of the recording (20 dB).
constexpr double kSignalPowerRatio = 100.0;
constexpr double kQuietSeconds = 0.2;
// The window of the linear response ends where the response's decay, in blocks of a
// millisecond, no longer rises this far (10 dB) above the noise floor.
constexpr double kWindowAboveFloor = 10.0;
constexpr double kBlockSeconds = 0.001;
constexpr double kQuietSpanSeconds = 0.01;
// The window starts this long before the response's peak (at most a quarter of the
// distance to the 2nd harmonic), lasts at least a period of the lowest frequency after
// it and at most kMaxPostSeconds (or two such periods, when longer): a response without
// any noise (a digital device whose distortion aliases spreads a faint chirp over
// seconds) would otherwise never reach its floor. It fades out over the last quarter.
constexpr double kPreSeconds = 0.005;
// The deconvolved response ends steeply at the sweep's last frequency; when that lies
// close above the band's top, the response rings for long before its peak too, and a
// window cut off sooner bends the level towards the band's top. The window then starts
// this many periods of the gap between the two before the peak.
constexpr double kPreEdgePeriods = 4.0;
constexpr double kMinPostSeconds = 0.002;
constexpr double kMaxPostSeconds = 0.5;
constexpr double kFadeOutShare = 0.25;
// Log magnitudes below the largest by this many nepers (240 dB) count as that floor.
constexpr double kLogFloorNepers = 27.6;
// The quotient holds the device's response wherever the sweep put power, also within its
// fades: it is continued only below the first tenth of the fade-in (in log frequency;
// the sweep is 30 dB down there), so that little of a high-pass's response below the band
// is guessed (the guess rings on both sides of the response's peak), and the
// minimum phase takes the measured level up to this share of the way through the
// fade-out; beyond that the window's cut of the response's steep end would bend it.
constexpr double kLowEdgeShareOfFade = 0.1;
constexpr double kHighEdgeShareOfFade = 0.95;
// The slope with which the level is continued above the band is fitted over this many
// octaves of the warped frequency below the band's edge: near half the rate a sixth of an
// octave in frequency spans a wide range there, and a corner close below the edge (a
// low-pass at the band's top) leaves the slope far from its asymptote.
constexpr double kHighSlopeWarpedOctaves = 0.2;
// Within the fade-out the measured level is taken only as far up as the response, as the
// sweep excited it (its level times the sweep's envelope), lies within this share (45 dB)
// of the strongest in the band: above that a low-pass in the band leaves the level to the
// noise, whose slope would make up a delay.
constexpr double kExcitedEdgeShare = 0.0056;
// Bins more than 60 dB below the strongest take no part in the delay fit.
constexpr double kFitFloor = 1e-3;
// The deconvolution's transforms hold the recording and this many frames more.
constexpr std::size_t kTransformMargin = 1024;
// Bounds of the slopes with which the magnitude is continued beyond the measured band
// (in nepers per neper of the warped frequency).
constexpr double kMaxEdgeSlope = 12.0;

double Raised(double x)
{
    return 0.5 - 0.5 * std::cos(kPi * std::clamp(x, 0.0, 1.0));
}

// Whether `x` shows the sweep: its power while the sweep plays against its power in the
// quiet end of the recording, both above half the sweep's lowest frequency. Below that
// the sweep puts nothing, but a device may: an offset, or the slow decay of a high-pass
// of a few Hz (an input coupled through a large capacitor) that the sweep's start or an
// earlier signal has set ringing. Counted, that decay made a device that carries the
// sweep well look as if it carried none.
bool ShowsSweep(const float* x, std::size_t frames, const LogSweepDesign& d)
{
    if (x == nullptr || frames == 0) {
        return false;
    }
    const int rateHz = d.params.rateHz;
    const std::size_t quiet = std::min<std::size_t>(static_cast<std::size_t>(kQuietSeconds * rateHz),
                                                    frames / 10 + 1);
    const std::size_t loud = std::min(d.sweepFrames, frames - quiet);
    BiquadCoeffs coeffs;
    BiquadDesigner designer(rateHz);
    const int cornerHz = std::max(1, static_cast<int>(d.startHz / 2.0));
    designer.DesignBiquad(kBiquadHighPass, cornerHz, coeffs, 0.0, 1.0);
    // The filtered signal, sample by sample; a second copy trails the first by `loud`
    // frames, so the power of the loudest stretch as long as the sweep (which arrives
    // late on a device with a delay) is a running sum that needs no copy of the input.
    struct HighPass {
        const BiquadCoeffs& c;
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
        double operator()(double in)
        {
            const double y = c.b0 * in + c.b1 * x1 + c.b2 * x2 + c.a1 * y1 + c.a2 * y2;
            x2 = x1;
            x1 = in;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    HighPass lead{coeffs}, trail{coeffs};
    double sum = 0.0;
    for (std::size_t i = 0; i < loud; ++i) {
        const double y = lead(x[i]);
        sum += y * y;
    }
    double loudPower = sum;
    for (std::size_t i = loud; i < frames - quiet; ++i) {
        const double y = lead(x[i]);
        const double old = trail(x[i - loud]);
        sum += y * y - old * old;
        loudPower = std::max(loudPower, sum);
    }
    double quietPower = 0.0;
    for (std::size_t i = frames - quiet; i < frames; ++i) {
        const double y = lead(x[i]);
        quietPower += y * y;
    }
    loudPower /= static_cast<double>(std::max<std::size_t>(loud, 1));
    quietPower /= static_cast<double>(quiet);
    return loudPower > 0.0 && loudPower > kSignalPowerRatio * quietPower;
}

void LoadTransform(RealTransform& t, const float* x, std::size_t frames)
{
    double* time = t.Time();
    const std::size_t n = std::min(frames, t.Size());
    for (std::size_t i = 0; i < n; ++i) {
        time[i] = x[i];
    }
    std::fill(time + n, time + t.Size(), 0.0);
    t.Forward();
}

// Least-squares slope of y over x.
double Slope(const std::vector<double>& x, const std::vector<double>& y)
{
    const double n = static_cast<double>(x.size());
    if (x.size() < 2) {
        return 0.0;
    }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double den = n * sxx - sx * sx;
    return den != 0.0 ? (n * sxy - sx * sy) / den : 0.0;
}

// The slope b of the least-squares fit y = a + b x + c / x (x > 0). Where x spans less
// than kInverseTermSpan the two terms cannot be told apart, and the plain line is fitted.
constexpr double kInverseTermSpan = 4.0;

double SlopeBesideInverse(const std::vector<double>& x, const std::vector<double>& y)
{
    if (x.size() < 4 || x.back() < kInverseTermSpan * x.front()) {
        return Slope(x, y);
    }
    const double unit = x.front();  // x in units of the first one keeps the sums of one size
    double g[3][3] = {}, r[3] = {};
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double v[3] = {1.0, x[i] / unit, unit / x[i]};
        for (int a = 0; a < 3; ++a) {
            r[a] += v[a] * y[i];
            for (int b = 0; b < 3; ++b) {
                g[a][b] += v[a] * v[b];
            }
        }
    }
    const auto det = [](const double (&m)[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    const double whole = det(g);
    if (!(std::abs(whole) > 0.0)) {
        return Slope(x, y);
    }
    double withR[3][3];
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            withR[a][b] = b == 1 ? r[a] : g[a][b];
        }
    }
    return det(withR) / whole / unit;
}

// Below `edgeHz` (early in the sweep's fade-in) the quotient holds little but the fade's
// edge and noise; cut off there, it would ring for as long as a period of the edge and smear the lowest
// frequencies of every window. It is continued instead from its value, its slope in
// level (a power of f, 0 .. 12) and its slope in phase over the third of an octave
// above the edge: smooth, so the responses stay short. No harmonic reaches down there
// (the k-th starts at k times the sweep's first frequency).
void ContinueBelowBand(Complex* s, std::size_t bins, double binHz, double edgeHz)
{
    const auto edge = static_cast<std::size_t>(std::ceil(edgeHz / binHz));
    const auto fitEnd = static_cast<std::size_t>(std::ceil(edgeHz * std::cbrt(2.0) / binHz));
    if (edge < 1 || fitEnd <= edge + 1 || fitEnd >= bins) {
        return;
    }
    std::vector<double> x, y;
    Complex turn;
    for (std::size_t k = edge; k <= fitEnd; ++k) {
        x.push_back(std::log(static_cast<double>(k)));
        y.push_back(std::log(std::max(std::abs(s[k]), std::numeric_limits<double>::min())));
        if (k < fitEnd) {
            turn += s[k + 1] * std::conj(s[k]);
        }
    }
    const double power = std::clamp(Slope(x, y), 0.0, kMaxEdgeSlope);
    const double step = std::arg(turn);
    const Complex at = s[edge];
    for (std::size_t k = 1; k < edge; ++k) {
        const double ratio = static_cast<double>(k) / static_cast<double>(edge);
        s[k] = at * std::pow(ratio, power) * std::polar(1.0, step * (static_cast<double>(k) - static_cast<double>(edge)));
    }
    s[0] = Complex((at * std::polar(1.0, -step * static_cast<double>(edge))).real() * (power > 0.0 ? 0.0 : 1.0), 0.0);
}

// Solves the n x n system a x = b (a by rows) by elimination with partial pivoting; b
// becomes x. False when the system is singular.
bool SolveSmall(std::vector<double> a, std::vector<double>& b)
{
    const std::size_t n = b.size();
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::abs(a[r * n + c]) > std::abs(a[pivot * n + c])) {
                pivot = r;
            }
        }
        if (!(std::abs(a[pivot * n + c]) > 0.0)) {
            return false;
        }
        for (std::size_t j = 0; j < n; ++j) {
            std::swap(a[c * n + j], a[pivot * n + j]);
        }
        std::swap(b[c], b[pivot]);
        for (std::size_t r = 0; r < n; ++r) {
            if (r != c) {
                const double f = a[r * n + c] / a[c * n + c];
                for (std::size_t j = c; j < n; ++j) {
                    a[r * n + j] -= f * a[c * n + j];
                }
                b[r] -= f * b[c];
            }
        }
    }
    for (std::size_t c = 0; c < n; ++c) {
        b[c] /= a[c * n + c];
    }
    return true;
}

// The continuation below the band meets the quotient at the edge in its value and this many
// derivatives less one; fewer where the stretch above the edge holds few bins.
constexpr std::size_t kContinuedOrders = 5;
// A continuation that rises further above the strongest bin it was fitted to is taken as
// unsound and made again with one derivative less.
constexpr double kMaxContinuedRise = 4.0;

// The spectrum of a real response has an even real and an odd imaginary part. Below
// `edgeHz` it is continued so: with the pure delay's phase (the mean turn from bin to bin)
// taken out, the quotient over the third of an octave above the edge is fitted by a
// polynomial of the bin, and below the edge its real part goes on as an even polynomial
// of the frequency and its imaginary part as an odd one, both meeting the fit at the edge
// in value and kContinuedOrders - 1 derivatives. Smooth through 0 Hz and at the edge,
// the continued response stays short on both sides of its peak. A power of the frequency
// (not smooth at 0 Hz unless an even whole number) or a kink at the edge would leave a
// slow tail far before the peak, where the harmonics' windows lie: there it read as
// distortion at their lowest frequencies. No harmonic reaches down there (the k-th starts
// at k times the sweep's first frequency). False when no fit could be solved (nothing
// changed).
bool ContinueSmoothlyBelowBand(Complex* s, std::size_t bins, double binHz, double edgeHz)
{
    const auto edge = static_cast<std::size_t>(std::ceil(edgeHz / binHz));
    const auto fitEnd = static_cast<std::size_t>(std::ceil(edgeHz * std::cbrt(2.0) / binHz));
    if (edge < 1 || fitEnd <= edge + 1 || fitEnd >= bins) {
        return true;  // nothing below the edge to continue (as ContinueBelowBand)
    }
    Complex turn;
    double strongest = 0.0;
    for (std::size_t k = edge; k < fitEnd; ++k) {
        turn += s[k + 1] * std::conj(s[k]);
        strongest = std::max(strongest, std::abs(s[k]));
    }
    const double step = std::arg(turn);
    const double e = static_cast<double>(edge);
    const double scale = static_cast<double>(fitEnd - edge);
    for (std::size_t orders = std::min(kContinuedOrders, fitEnd - edge); orders >= 1; --orders) {
        // The fit in u = (k - edge) / scale, 0 .. 1: its coefficients, real and imaginary.
        std::vector<double> gram(orders * orders, 0.0), re(orders, 0.0), im(orders, 0.0);
        for (std::size_t k = edge; k <= fitEnd; ++k) {
            const double u = (static_cast<double>(k) - e) / scale;
            const Complex t = s[k] * std::polar(1.0, -step * static_cast<double>(k));
            double ui = 1.0;
            for (std::size_t i = 0; i < orders; ++i, ui *= u) {
                re[i] += ui * t.real();
                im[i] += ui * t.imag();
                double uj = 1.0;
                for (std::size_t j = 0; j < orders; ++j, uj *= u) {
                    gram[i * orders + j] += ui * uj;
                }
            }
        }
        if (!SolveSmall(gram, re) || !SolveSmall(gram, im)) {
            continue;
        }
        // Derivatives at the edge in x = k / edge (x = 1): j! c_j (edge / scale)^j; the
        // even polynomial sum a_i x^(2i) and the odd one sum b_i x^(2i+1) meet them.
        std::vector<double> even(orders * orders), odd(orders * orders);
        double factorial = 1.0;
        for (std::size_t j = 0; j < orders; ++j) {
            factorial *= j > 0 ? static_cast<double>(j) : 1.0;
            const double chain = factorial * std::pow(e / scale, static_cast<double>(j));
            re[j] *= chain;
            im[j] *= chain;
            for (std::size_t i = 0; i < orders; ++i) {
                double de = 1.0, dodd = 1.0;
                for (std::size_t q = 0; q < j; ++q) {
                    de *= static_cast<double>(2 * i) - static_cast<double>(q);
                    dodd *= static_cast<double>(2 * i + 1) - static_cast<double>(q);
                }
                even[j * orders + i] = de;
                odd[j * orders + i] = dodd;
            }
        }
        if (!SolveSmall(even, re) || !SolveSmall(odd, im)) {
            continue;
        }
        std::vector<Complex> continued(edge);
        bool sound = true;
        for (std::size_t k = 0; k < edge; ++k) {
            const double x = static_cast<double>(k) / e;
            double real = 0.0, imag = 0.0;
            for (std::size_t i = orders; i-- > 0;) {
                real = real * x * x + re[i];
                imag = imag * x * x + im[i];
            }
            const Complex t(real, imag * x);
            sound = sound && std::abs(t) <= kMaxContinuedRise * strongest;
            continued[k] = t * std::polar(1.0, step * static_cast<double>(k));
        }
        if (sound || orders == 1) {
            std::copy(continued.begin(), continued.end(), s);
            s[0] = Complex(s[0].real(), 0.0);
            return true;
        }
    }
    return false;
}

// y's spectrum becomes y / ref (regularised). The sweep's power per bin is c / f within
// its flat band; c is taken from there.
void Divide(RealTransform& y, const Complex* ref, const LogSweepDesign& d)
{
    const std::size_t bins = y.Bins();
    const double binHz = static_cast<double>(d.params.rateHz) / static_cast<double>(y.Size());
    std::vector<double> level;
    for (std::size_t k = 1; k < bins; ++k) {
        const double f = static_cast<double>(k) * binHz;
        if (f >= d.flatFromHz && f <= d.flatToHz) {
            level.push_back(std::norm(ref[k]) * f);
        }
    }
    double c = 0.0;
    if (!level.empty()) {
        std::nth_element(level.begin(), level.begin() + static_cast<long>(level.size() / 2), level.end());
        c = level[level.size() / 2];
    }
    Complex* s = y.Spectrum();
    for (std::size_t k = 0; k < bins; ++k) {
        const double f = static_cast<double>(std::max<std::size_t>(k, 1)) * binHz;
        const double power = std::norm(ref[k]) + kRegularisation * c / f;
        s[k] = power > 0.0 ? s[k] * std::conj(ref[k]) / power : Complex();
    }
}

// The quotient in `linear` (see Divide) becomes two impulse responses: `linear` continued
// below the band for the linear window (its level and phase), `harmonic` (whose spectrum
// is overwritten) continued smoothly through 0 Hz for the harmonics' windows, which lie
// far before the peak, where only the smooth continuation leaves nothing.
void FinishResponses(RealTransform& linear, RealTransform& harmonic, const LogSweepDesign& d)
{
    const std::size_t bins = linear.Bins();
    const double binHz = static_cast<double>(d.params.rateHz) / static_cast<double>(linear.Size());
    const double edgeHz = d.startHz * std::pow(d.flatFromHz / d.startHz, kLowEdgeShareOfFade);
    std::copy(linear.Spectrum(), linear.Spectrum() + bins, harmonic.Spectrum());
    ContinueBelowBand(linear.Spectrum(), bins, binHz, edgeHz);
    if (!ContinueSmoothlyBelowBand(harmonic.Spectrum(), bins, binHz, edgeHz)) {
        ContinueBelowBand(harmonic.Spectrum(), bins, binHz, edgeHz);
    }
    linear.Inverse();
    harmonic.Inverse();
}

/// Smallest power of two at or above max(n, floor), at most 2^23.
std::size_t FineSize(std::size_t n, std::size_t floor)
{
    std::size_t m = floor;
    while (m < n && m < (std::size_t{1} << 23)) {
        m *= 2;
    }
    return m;
}

/// The part of the k-th harmonic's window before its response and the part after it,
/// given the linear window's `pre` and `post`: a quarter of the distance to the next
/// earlier response before it and half the distance to the next later one after it,
/// whatever the linear window's length (its band starts at k times the sweep's start,
/// and only a long window resolves that edge); it never reaches the later one.
struct HarmonicWindow {
    long pre = 1;
    long post = 1;
    long transform = 0;  // the length of its transform
};

HarmonicWindow HarmonicWindowOf(const LogSweepDesign& d, int k, long pre, long post)
{
    const double advance = d.HarmonicAdvance(k);
    const double before = d.HarmonicAdvance(k + 1) - advance;
    const double after = advance - d.HarmonicAdvance(k - 1);
    HarmonicWindow w;
    // A quarter of the way towards the next harmonic, but never further back than the
    // sweep is long: beyond that the response holds nothing of the sweep, and a window
    // reaching there would need transforms longer than the recording.
    const double room = std::max(1.0, static_cast<double>(d.sweepFrames) - advance);
    w.pre = std::max<long>(1, static_cast<long>(std::min(before / 4.0, room)));
    const long longest = std::max<long>({1, post, static_cast<long>(after / 2.0) - (k == 2 ? pre : 0)});
    w.transform = static_cast<long>(FineSize(4 * static_cast<std::size_t>(w.pre + longest), 16384));
    // Half the way to the next later response at the most: the linear one's lead-in (its
    // low band continued below the sweep's start rings on both sides of its peak) stays
    // out of the 2nd harmonic's window.
    w.post = std::min(longest, static_cast<long>(after / 2.0));
    return w;
}

/// Linear interpolation of a per-bin curve of a transform of 2 (bins - 1) points.
double Interpolate(const std::vector<double>& values, double freqHz, double rateHz)
{
    const double x = freqHz * 2.0 * static_cast<double>(values.size() - 1) / rateHz;
    const auto k = static_cast<std::size_t>(std::max(0.0, std::floor(x)));
    if (k + 1 >= values.size()) {
        return values.back();
    }
    const double t = x - static_cast<double>(k);
    return values[k] + t * (values[k + 1] - values[k]);
}

/// The analysis of one circular impulse response.
class ChannelAnalyser {
public:
    /// `ir` the response continued for the linear window, `harmonicIr` the one for the
    /// harmonics' windows (see FinishResponses).
    ChannelAnalyser(const LogSweepDesign& d, const LogSweepAnalysisPlan& plan, const double* ir,
                    const double* harmonicIr, std::size_t recordedFrames, const std::vector<double>& grid,
                    double bandLow, double bandHigh)
        : d_(d), plan_(plan), ir_(ir), harmonicIr_(harmonicIr), n_(plan.transformFrames), recorded_(recordedFrames),
          grid_(grid), bandLow_(bandLow), bandHigh_(bandHigh), rate_(d.params.rateHz)
    {
    }

    LogSweepChannel Run();

private:
    double At(long lag) const { return At(ir_, lag); }
    double At(const double* ir, long lag) const
    {
        const long n = static_cast<long>(n_);
        return ir[static_cast<std::size_t>(((lag % n) + n) % n)];
    }
    /// The response `ir` from `pre` samples before `centre` to `post` samples after it,
    /// faded in over the first `riseShare` of `pre` and out over the last quarter of
    /// `post`, transformed with `centre` at time 0 (zero padded to the transform's length).
    std::vector<Complex> Segment(RealTransform& t, const double* ir, long centre, long pre, long post,
                                 double riseShare, std::vector<float>* keep,
                                 std::vector<float>* weights = nullptr) const;
    /// The minimum phase belonging to the magnitudes |s| (bins of a transform).
    std::vector<double> MinimumPhase(RealTransform& t, const std::vector<Complex>& s) const;
    /// The highest bin at or below kHi whose level the sweep excited well (see
    /// kExcitedEdgeShare); s holds the bins of a transform of m points.
    std::size_t ExcitedEdge(const std::vector<Complex>& s, std::size_t kLo, std::size_t kHi, double m) const;
    /// Where the minimum phase stops taking the measured level (see kHighEdgeShareOfFade).
    double HighEdgeHz() const { return d_.flatToHz * std::pow(d_.endHz / d_.flatToHz, kHighEdgeShareOfFade); }
    /// The pure delay's part below a sample: the slope of the excess phase over the band.
    double ResidualDelay(const std::vector<Complex>& s, const std::vector<double>& minimum) const;
    void Harmonics(LogSweepChannel& out, const std::vector<double>& level, long pre, long post) const;

    const LogSweepDesign& d_;
    const LogSweepAnalysisPlan& plan_;
    const double* ir_;
    const double* harmonicIr_;
    std::size_t n_;
    std::size_t recorded_;
    const std::vector<double>& grid_;
    double bandLow_, bandHigh_;
    double rate_;
};

std::vector<Complex> ChannelAnalyser::Segment(RealTransform& t, const double* ir, long centre, long pre, long post,
                                              double riseShare, std::vector<float>* keep,
                                              std::vector<float>* weights) const
{
    const long m = static_cast<long>(t.Size());
    double* time = t.Time();
    std::fill(time, time + m, 0.0);
    if (keep != nullptr) {
        keep->assign(static_cast<std::size_t>(pre + post), 0.0f);
    }
    if (weights != nullptr) {
        weights->clear();
    }
    const double rise = std::max(1.0, riseShare * pre);
    const double fall = std::max(1.0, kFadeOutShare * post);
    for (long j = -pre; j < post; ++j) {
        double w = 1.0;
        if (j < -pre + rise) {
            w = Raised((j + pre) / rise);
        } else if (j >= post - fall) {
            w = Raised((post - j) / fall);
        }
        const double v = w * At(ir, centre + j);
        time[((j % m) + m) % m] = v;
        if (keep != nullptr) {
            (*keep)[static_cast<std::size_t>(j + pre)] = static_cast<float>(v);
        }
        if (weights != nullptr) {
            weights->push_back(static_cast<float>(w));
        }
    }
    t.Forward();
    return std::vector<Complex>(t.Spectrum(), t.Spectrum() + t.Bins());
}

std::size_t ChannelAnalyser::ExcitedEdge(const std::vector<Complex>& s, std::size_t kLo, std::size_t kHi, double m) const
{
    double strongest = 0.0;
    for (std::size_t k = kLo; k <= kHi; ++k) {
        strongest = std::max(strongest, std::abs(s[k]));
    }
    const double fade = std::log(d_.endHz / d_.flatToHz);
    const auto excited = [&](std::size_t k) {
        const double f = static_cast<double>(k) * rate_ / m;
        const double envelope = f <= d_.flatToHz || !(fade > 0.0) ? 1.0 : Raised(std::log(d_.endHz / f) / fade);
        return std::abs(s[k]) * envelope;
    };
    while (kHi > kLo + 1 && excited(kHi) < kExcitedEdgeShare * strongest) {
        --kHi;
    }
    return kHi;
}

std::vector<double> ChannelAnalyser::MinimumPhase(RealTransform& t, const std::vector<Complex>& s) const
{
    // Beyond the sweep's flat band the log magnitude is continued as a power of the
    // warped frequency tan(pi f / fs), with the slope found just inside the band: exact
    // for a digital filter's response near 0 Hz and near half the rate (a power of that
    // variable there), a plain continuation for a flat one.
    const std::size_t bins = s.size();
    const double m = static_cast<double>(t.Size());
    std::vector<double> logMag(bins);
    double logMax = -std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < bins; ++k) {
        logMag[k] = std::log(std::max(std::abs(s[k]), std::numeric_limits<double>::min()));
        logMax = std::max(logMax, logMag[k]);
    }
    const double logFloor = logMax - kLogFloorNepers;
    const auto warped = [&](std::size_t k) { return std::log(std::tan(kPi * static_cast<double>(k) / m)); };
    const std::size_t kLo =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(d_.flatFromHz * m / rate_)), 1, bins - 3);
    std::size_t kHi = std::clamp<std::size_t>(
        static_cast<std::size_t>(std::floor(std::min(HighEdgeHz(), 0.499 * rate_) * m / rate_)), kLo + 1, bins - 2);
    kHi = ExcitedEdge(s, kLo, kHi, m);
    const auto edgeSlope = [&](std::size_t from, std::size_t to) {
        std::vector<double> x, y;
        for (std::size_t k = from; k <= to; ++k) {
            x.push_back(warped(k));
            y.push_back(logMag[k]);
        }
        return Slope(x, y);
    };
    // A third of an octave above the lower edge; below the upper one a stretch of the
    // warped frequency (see kHighSlopeWarpedOctaves).
    const std::size_t loFitEnd = std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(kLo * std::cbrt(2.0))),
                                                         kLo + 1, kHi);
    const double hiFitWarped = std::tan(kPi * static_cast<double>(kHi) / m) / std::exp2(kHighSlopeWarpedOctaves);
    const std::size_t hiFitStart =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::atan(hiFitWarped) / kPi * m), kLo, kHi - 1);
    const double slopeLo = std::clamp(edgeSlope(kLo, loFitEnd), 0.0, kMaxEdgeSlope);
    const double slopeHi = std::clamp(edgeSlope(hiFitStart, kHi), -kMaxEdgeSlope, 0.0);
    for (std::size_t k = 0; k < bins; ++k) {
        double v = logMag[k];
        if (k == 0 || k == bins - 1) {
            v = logFloor;
        } else if (k < kLo) {
            v = logMag[kLo] + slopeLo * (warped(k) - warped(kLo));
        } else if (k > kHi) {
            v = logMag[kHi] + slopeHi * (warped(k) - warped(kHi));
        }
        logMag[k] = std::max(v, logFloor);
    }
    // Real cepstrum, folded onto positive quefrencies, back to the spectrum: its
    // imaginary part is the minimum phase.
    for (std::size_t k = 0; k < bins; ++k) {
        t.Spectrum()[k] = Complex(logMag[k], 0.0);
    }
    t.Inverse();
    double* c = t.Time();
    const std::size_t size = t.Size();
    for (std::size_t i = 1; i < size / 2; ++i) {
        c[i] *= 2.0;
    }
    std::fill(c + size / 2 + 1, c + size, 0.0);
    t.Forward();
    std::vector<double> phase(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        phase[k] = t.Spectrum()[k].imag();
    }
    return phase;
}

double ChannelAnalyser::ResidualDelay(const std::vector<Complex>& s, const std::vector<double>& minimum) const
{
    const std::size_t bins = s.size();
    const double m = 2.0 * static_cast<double>(bins - 1);
    // The middle of the band, two octaves above its bottom and one below its top: near
    // the edges the minimum phase leans on the continued magnitude (a filter's corner
    // just beyond the band bends it), and a pure delay has the same slope everywhere.
    const double fitLow = std::min(4.0 * bandLow_, std::sqrt(bandLow_ * bandHigh_));
    const double fitHigh = std::max(bandHigh_ / 2.0, std::sqrt(bandLow_ * bandHigh_));
    const std::size_t kA = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(fitLow * m / rate_)));
    const std::size_t kB = std::min(bins - 1, std::max(kA + 2, static_cast<std::size_t>(std::floor(fitHigh * m / rate_))));
    double strongest = 0.0;
    for (std::size_t k = kA; k <= kB; ++k) {
        strongest = std::max(strongest, std::abs(s[k]));
    }
    std::vector<double> x, y;
    double previous = 0.0, unwrapped = 0.0;
    for (std::size_t k = kA; k <= kB; ++k) {
        const double excess = std::arg(s[k]) - minimum[k];
        unwrapped = k == kA ? excess : unwrapped + std::remainder(excess - previous, 2.0 * kPi);
        previous = excess;
        if (std::abs(s[k]) >= kFitFloor * strongest) {
            x.push_back(static_cast<double>(k));
            y.push_back(unwrapped);
        }
    }
    // A pure delay is the excess phase's slope. The level continued below the band leaves
    // a minimum phase wrong by a term falling as 1/f above it (the Hilbert transform of a
    // change confined to low frequencies): fitted beside the slope, it no longer tilts it.
    return -SlopeBesideInverse(x, y) * m / (2.0 * kPi);
}

void ChannelAnalyser::Harmonics(LogSweepChannel& out, const std::vector<double>& level, long pre, long post) const
{
    // The k-th response sits L ln k before the linear one. A harmonic above the band at
    // every grid point is not cut out at all: it has nothing to show.
    const std::size_t points = grid_.size();
    const long centre = std::lround(out.delaySamples);
    for (int k = 2; k < 2 + kLogSweepHarmonics; ++k) {
        std::vector<double>& h = out.harmonicDb[static_cast<std::size_t>(k - 2)];
        h.assign(points, kNaN);
        if (k > plan_.topHarmonic) {
            continue;
        }
        const HarmonicWindow w = HarmonicWindowOf(d_, k, pre, post);
        RealTransform t(static_cast<std::size_t>(w.transform));
        const std::vector<Complex> g =
            Segment(t, harmonicIr_, centre - std::lround(d_.HarmonicAdvance(k)), w.pre, w.post, 1.0, nullptr);
        std::vector<double> gMag(g.size());
        for (std::size_t b = 0; b < g.size(); ++b) {
            gMag[b] = std::abs(g[b]);
        }
        for (std::size_t i = 0; i < points; ++i) {
            const double f = k * grid_[i];
            if (f <= bandHigh_ * (1.0 + 1e-9)) {
                const double fundamental = std::max(Interpolate(level, grid_[i], rate_), 1e-30);
                h[i] = 20.0 * std::log10(std::max(Interpolate(gMag, f, rate_), 1e-30) / fundamental);
            }
        }
    }
    out.thdDb.assign(points, kNaN);
    for (std::size_t i = 0; i < points; ++i) {
        double sum = 0.0;
        bool any = false;
        for (const auto& h : out.harmonicDb) {
            if (!std::isnan(h[i])) {
                sum += std::pow(10.0, h[i] / 10.0);
                any = true;
            }
        }
        if (any) {
            out.thdDb[i] = 10.0 * std::log10(std::max(sum, 1e-300));
        }
    }
}

LogSweepChannel ChannelAnalyser::Run()
{
    LogSweepChannel out;
    // The linear response's peak, among the lags the harmonics leave to it.
    const long first = -static_cast<long>(plan_.leadFrames);
    const long last = std::min(static_cast<long>(recorded_),
                               static_cast<long>(n_) - static_cast<long>(plan_.reachFrames) - 1);
    long peakLag = 0;
    double peak = -1.0;
    for (long lag = first; lag < last; ++lag) {
        const double v = std::fabs(At(lag));
        if (v > peak) {
            peak = v;
            peakLag = lag;
        }
    }

    // The noise floor: the median energy of a millisecond after the peak (most of that
    // time holds only noise). The window ends where the decay has reached the floor: the
    // first millisecond from which on none of the next kQuietSpanSeconds rises more than
    // 10 dB above it (within the bounds above).
    const long block = std::max<long>(16, std::lround(kBlockSeconds * rate_));
    std::vector<double> energy;
    for (long start = peakLag; start + block <= last; start += block) {
        double e = 0.0;
        for (long j = start; j < start + block; ++j) {
            e += At(j) * At(j);
        }
        energy.push_back(e);
    }
    double floor = peak * peak * 1e-15 * static_cast<double>(block);
    if (!energy.empty()) {
        std::vector<double> sorted(energy);
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
        floor = std::max(floor, sorted[sorted.size() / 2]);
    }
    const auto span = static_cast<std::size_t>(std::max(1.0, kQuietSpanSeconds / kBlockSeconds));
    std::size_t quietFrom = energy.size();
    std::size_t nextLoud = energy.size();  // the first loud block at or after b
    for (std::size_t b = energy.size(); b-- > 0;) {
        if (energy[b] > kWindowAboveFloor * floor) {
            nextLoud = b;
        } else if (nextLoud >= b + span) {
            quietFrom = b;
        }
    }
    const long pre = plan_.preFrames;
    const long minPost =
        std::max({64L, std::lround(kMinPostSeconds * rate_), std::lround(rate_ / d_.params.fromHz)});
    long post = static_cast<long>(static_cast<double>(static_cast<long>(quietFrom) * block) / (1.0 - kFadeOutShare));
    post = std::clamp(std::min(post, plan_.maxPostFrames), std::min(minPost, last - peakLag),
                      std::max<long>(1, last - peakLag));

    // The linear response, on a fine grid: the minimum phase needs it (the cepstrum of
    // a response with zeros at 0 Hz or half the rate aliases on a coarse one).
    // Its transform is given back before the harmonics take theirs: the two largest
    // transforms of a long window never coexist.
    std::vector<Complex> s;
    double residual = 0.0;
    {
        RealTransform fine(FineSize(8 * static_cast<std::size_t>(pre + post), 262144));
        s = Segment(fine, ir_, peakLag, pre, post, 0.5, &out.impulse, &out.window);
        residual = ResidualDelay(s, MinimumPhase(fine, s));
    }
    out.windowStart = peakLag - pre;
    out.windowFrames = static_cast<std::size_t>(pre + post);
    out.peakLag = peakLag;
    const long margin = std::max(pre, (pre + post) / 4);
    out.viewStart = std::max(out.windowStart - margin, first);
    const long viewEnd = std::min(peakLag + post + margin, std::max(last, peakLag + post));
    for (long lag = out.viewStart; lag < viewEnd; ++lag) {
        out.view.push_back(static_cast<float>(At(lag)));
    }
    out.delaySamples = static_cast<double>(peakLag) + residual;

    // Level and phase, the delay removed, the phase unwrapped along the bins.
    const std::size_t bins = s.size();
    const double m = 2.0 * static_cast<double>(bins - 1);  // the fine transform's length
    std::vector<double> level(bins), phase(bins);
    double previous = 0.0, unwrapped = 0.0;
    for (std::size_t k = 0; k < bins; ++k) {
        level[k] = std::abs(s[k]);
        const double p = std::arg(s[k] * std::polar(1.0, 2.0 * kPi * static_cast<double>(k) * residual / m));
        unwrapped = k == 0 ? p : unwrapped + std::remainder(p - previous, 2.0 * kPi);
        previous = p;
        phase[k] = unwrapped;
    }
    const std::size_t points = grid_.size();
    out.levelDb.resize(points);
    out.phaseDeg.resize(points);
    std::size_t loudest = 0;
    for (std::size_t i = 0; i < points; ++i) {
        out.levelDb[i] = 20.0 * std::log10(std::max(Interpolate(level, grid_[i], rate_), 1e-30));
        out.phaseDeg[i] = Interpolate(phase, grid_[i], rate_) * 180.0 / kPi;
        if (out.levelDb[i] > out.levelDb[loudest]) {
            loudest = i;
        }
    }
    // The unwrapped curve is placed so that the phase where the level is highest lies
    // within -180 .. 180.
    if (points > 0) {
        const double shift = 360.0 * std::round(out.phaseDeg[loudest] / 360.0);
        for (double& p : out.phaseDeg) {
            p -= shift;
        }
    }
    Harmonics(out, level, pre, post);
    return out;
}

}  // namespace

std::size_t LogSweepTransformBound(std::size_t recordingFrames)
{
    return GoodTransformSize(recordingFrames + kTransformMargin);
}

LogSweepAnalysisPlan PlanLogSweepAnalysis(const LogSweepDesign& d, std::size_t recordingFrames)
{
    LogSweepAnalysisPlan plan;
    const double rate = d.params.rateHz;
    const double top = d.BandTopHz();
    for (int k = 2; k < 2 + kLogSweepHarmonics; ++k) {
        if (k * d.params.fromHz <= top * (1.0 + 1e-9)) {
            plan.topHarmonic = k;
        }
    }
    // What the recording holds after the sweep covers the delays it measures and the
    // device's decay; the peak is looked for as far before lag 0 (an input ahead of the
    // reference), at most a quarter of the way to the 2nd harmonic and not further than
    // the sweep is long (so those lags need no room beyond the recording either).
    const std::size_t afterSweep = recordingFrames > d.sweepFrames ? recordingFrames - d.sweepFrames : 0;
    const double lead = std::min({d.HarmonicAdvance(2) / 4.0, static_cast<double>(afterSweep),
                                  static_cast<double>(d.sweepFrames)});
    plan.leadFrames = static_cast<std::size_t>(lead);
    const double gapHz = std::max(d.endHz - top, std::numeric_limits<double>::min());
    plan.preFrames = std::max<long>(
        1, static_cast<long>(std::min(std::round(std::max(kPreSeconds, kPreEdgePeriods / gapHz) * rate), lead)));
    plan.maxPostFrames = std::max(std::lround(kMaxPostSeconds * rate), 2 * std::lround(rate / d.params.fromHz));

    // Kept clear before the linear response: the windows of the harmonics measured, and
    // the next harmonic's response where the sweep's band holds part of it. Neither lies
    // further back than the sweep is long, so the transforms need no room beyond the
    // recording: those responses fall among the lags after the linear one that hold
    // only noise.
    double reach = lead;
    if (plan.topHarmonic >= 2) {
        const HarmonicWindow top = HarmonicWindowOf(d, plan.topHarmonic, 1, 1);
        reach = std::max(reach, d.HarmonicAdvance(plan.topHarmonic) + static_cast<double>(top.pre));
    }
    if ((plan.topHarmonic + 1) * d.startHz < d.endHz) {
        reach = std::max(reach, std::min(d.HarmonicAdvance(plan.topHarmonic + 1), static_cast<double>(d.sweepFrames)));
    }
    plan.reachFrames = static_cast<std::size_t>(std::ceil(reach));
    plan.transformFrames =
        GoodTransformSize(std::max(recordingFrames, plan.reachFrames + afterSweep) + kTransformMargin);

    const auto fits = [&plan](std::size_t window, std::size_t transform) {
        plan.largestWindow = std::max(plan.largestWindow, window);
        plan.largestWindowTransform = std::max(plan.largestWindowTransform, transform);
        plan.windowsFit = plan.windowsFit && window <= transform;
    };
    const auto linear = static_cast<std::size_t>(plan.preFrames + plan.maxPostFrames);
    fits(linear, FineSize(8 * linear, 262144));
    for (int k = 2; k <= plan.topHarmonic; ++k) {
        const HarmonicWindow w = HarmonicWindowOf(d, k, plan.preFrames, plan.maxPostFrames);
        fits(static_cast<std::size_t>(w.pre + w.post), static_cast<std::size_t>(w.transform));
    }
    return plan;
}

double WrapDegrees(double degrees)
{
    if (!std::isfinite(degrees)) {
        return degrees;
    }
    double w = std::remainder(degrees, 360.0);
    if (w == -180.0) {
        w = 180.0;
    }
    return w;
}

LogSweepResult AnalyseLogSweep(const LogSweepDesign& design, const LogSweepRecording& rec, LogSweepMode mode,
                               int pointsPerOctave)
{
    LogSweepResult result;
    result.mode = mode;
    result.rateHz = design.params.rateHz;
    const int rate = design.params.rateHz;
    if (!ShowsSweep(rec.left, rec.frames, design)) {
        result.error = LogSweepError::NoSignalLeft;
        return result;
    }
    if (!ShowsSweep(rec.right, rec.frames, design)) {
        result.error = LogSweepError::NoSignalRight;
        return result;
    }

    result.bandLowHz = design.params.fromHz;
    result.bandHighHz = design.BandTopHz();
    result.freqHz = LogSweepGrid(design, pointsPerOctave);

    try {
        const LogSweepAnalysisPlan plan = PlanLogSweepAnalysis(design, rec.frames);
        const std::size_t n = plan.transformFrames;
        RealTransform right(n);
        RealTransform left(n);
        LoadTransform(right, rec.right, rec.frames);
        LoadTransform(left, rec.left, rec.frames);
        // No transform beyond these: with reference the left one's spectrum is used up by the
        // division and takes the right input's response for the harmonics; in stereo the
        // played one's takes the left input's, then the left one takes the right input's.
        if (mode == LogSweepMode::Reference) {
            Divide(right, left.Spectrum(), design);
            FinishResponses(right, left, design);
        } else {
            RealTransform played(n);
            LoadTransform(played, rec.played, std::min(rec.frames, design.Frames()));
            Divide(right, played.Spectrum(), design);
            Divide(left, played.Spectrum(), design);
            FinishResponses(left, played, design);
            result.left = ChannelAnalyser(design, plan, left.Time(), played.Time(), rec.frames, result.freqHz,
                                          result.bandLowHz, result.bandHighHz)
                              .Run();
            FinishResponses(right, left, design);
        }
        result.right = ChannelAnalyser(design, plan, right.Time(), left.Time(), rec.frames, result.freqHz,
                                       result.bandLowHz, result.bandHighHz)
                           .Run();
    } catch (const std::bad_alloc&) {
        result = LogSweepResult{};
        result.mode = mode;
        result.rateHz = rate;
        result.error = LogSweepError::NoMemory;
    }
    return result;
}

}  // namespace sonvera
