#include "dsp/fft.h"

#include <bit>
#include <cmath>
#include <utility>
#include <numbers>
#include <vector>

#include "dsp/window.h"

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#define SONVERA_FFT_X86 1
#endif

namespace sonvera {

namespace {

// Twiddles of every butterfly pass: pass with half-span m holds m entries at offset
// m - 1; entry q is the twiddle after q rotations by (cos pi/m, sin pi/m), computed in
// double precision exactly as a rotating twiddle would be, so the table does not
// change any result. The passes do not depend on N, so one table serves all sizes.
struct TwiddleTable {
    std::vector<double> re;
    std::vector<double> im;
    // Swap pairs (i, j) of the bit-reversal permutation per log2 N, in the order the
    // reversed counter produces them.
    std::vector<std::vector<std::pair<int, int>>> swaps;
    // The whole permutation per log2 N: position p receives element reversal[p].
    std::vector<std::vector<int>> reversal;

    TwiddleTable() : re(kWindowTableSize), im(kWindowTableSize), swaps(14), reversal(14) {
        for (int bits = 1, n = 2; n <= kWindowTableSize; ++bits, n *= 2) {
            auto& list = swaps[static_cast<std::size_t>(bits)];
            auto& perm = reversal[static_cast<std::size_t>(bits)];
            perm.resize(static_cast<std::size_t>(n));
            perm[0] = 0;
            int j = 0;
            for (int i = 1; i <= n - 1; ++i) {
                int k = n / 2;
                while (j + k > n - 1) k /= 2;
                j = (j & (k - 1)) + k;  // j mod k, k a power of two
                perm[static_cast<std::size_t>(i)] = j;
                if (j > i) list.emplace_back(i, j);
            }
        }
        for (int m = 1; m < kWindowTableSize; m *= 2) {
            const double theta = std::numbers::pi / static_cast<double>(m);
            const double c = std::cos(theta);
            const double s = std::sin(theta);
            double wr = 1.0;
            double wi = 0.0;
            for (int q = 0; q < m; ++q) {
                re[static_cast<std::size_t>(m - 1 + q)] = wr;
                im[static_cast<std::size_t>(m - 1 + q)] = wi;
                const double nextRe = wr * c - wi * s;
                const double nextIm = wi * c + wr * s;
                wr = nextRe;
                wi = nextIm;
            }
        }
    }
};

const TwiddleTable& Twiddles() {
    static const TwiddleTable table;
    return table;
}

void BitReverse(float* re, float* im, const std::vector<std::pair<int, int>>& swaps) {
    for (const auto& [i, j] : swaps) {
        const float tr = re[i];
        re[i] = re[j];
        re[j] = tr;
        const float ti = im[i];
        im[i] = im[j];
        im[j] = ti;
    }
}

// One butterfly: t = w * x[j] in double; x[j] = x[i] - t; x[i] = x[i] + t, each
// result rounded once to single precision.
inline void Butterfly(float* re, float* im, int i, int j, double wr, double wi) {
    const double tr = wr * static_cast<double>(re[j]) - wi * static_cast<double>(im[j]);
    const double ti = wr * static_cast<double>(im[j]) + wi * static_cast<double>(re[j]);
    const double xr = re[i];
    const double xi = im[i];
    re[j] = static_cast<float>(xr - tr);
    im[j] = static_cast<float>(xi - ti);
    re[i] = static_cast<float>(xr + tr);
    im[i] = static_cast<float>(xi + ti);
}

void PassScalar(float* re, float* im, int n, int m, const double* wr, const double* wi) {
    for (int s = 0; s < n; s += 2 * m) {
        for (int q = 0; q < m; ++q) Butterfly(re, im, s + q, s + q + m, wr[q], wi[q]);
    }
}

#if SONVERA_FFT_X86
// Two butterflies per step in double lanes: the same operations as Butterfly, lane
// by lane (no fused multiply-add), so the results are identical.
void PassSse2(float* re, float* im, int n, int m, const double* wr, const double* wi) {
    for (int s = 0; s < n; s += 2 * m) {
        float* ri = re + s;
        float* ii = im + s;
        float* rj = ri + m;
        float* ij = ii + m;
        for (int q = 0; q < m; q += 2) {
            const __m128d w_r = _mm_loadu_pd(wr + q);
            const __m128d w_i = _mm_loadu_pd(wi + q);
            const __m128d xrj = _mm_cvtps_pd(_mm_castsi128_ps(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rj + q))));
            const __m128d xij = _mm_cvtps_pd(_mm_castsi128_ps(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ij + q))));
            const __m128d xri = _mm_cvtps_pd(_mm_castsi128_ps(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ri + q))));
            const __m128d xii = _mm_cvtps_pd(_mm_castsi128_ps(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ii + q))));
            const __m128d tr = _mm_sub_pd(_mm_mul_pd(w_r, xrj), _mm_mul_pd(w_i, xij));
            const __m128d ti = _mm_add_pd(_mm_mul_pd(w_r, xij), _mm_mul_pd(w_i, xrj));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rj + q),
                             _mm_castps_si128(_mm_cvtpd_ps(_mm_sub_pd(xri, tr))));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(ij + q),
                             _mm_castps_si128(_mm_cvtpd_ps(_mm_sub_pd(xii, ti))));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(ri + q),
                             _mm_castps_si128(_mm_cvtpd_ps(_mm_add_pd(xri, tr))));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(ii + q),
                             _mm_castps_si128(_mm_cvtpd_ps(_mm_add_pd(xii, ti))));
        }
    }
}

// Four butterflies per step with 256-bit double lanes. AVX brings no fused
// multiply-add, so the arithmetic stays that of Butterfly.
// The final pass also applies the 1/N scaling (scale = 1 elsewhere): rounding to single
// precision first and then multiplying is what a separate scaling loop does.
__attribute__((target("avx"))) void PassAvx(float* re, float* im, int n, int m,
                                            const double* wr, const double* wi, float scale) {
    const __m128 sc = _mm_set1_ps(scale);
    for (int s = 0; s < n; s += 2 * m) {
        float* ri = re + s;
        float* ii = im + s;
        float* rj = ri + m;
        float* ij = ii + m;
        for (int q = 0; q < m; q += 4) {
            const __m256d w_r = _mm256_loadu_pd(wr + q);
            const __m256d w_i = _mm256_loadu_pd(wi + q);
            const __m256d xrj = _mm256_cvtps_pd(_mm_loadu_ps(rj + q));
            const __m256d xij = _mm256_cvtps_pd(_mm_loadu_ps(ij + q));
            const __m256d xri = _mm256_cvtps_pd(_mm_loadu_ps(ri + q));
            const __m256d xii = _mm256_cvtps_pd(_mm_loadu_ps(ii + q));
            const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(w_r, xrj), _mm256_mul_pd(w_i, xij));
            const __m256d ti = _mm256_add_pd(_mm256_mul_pd(w_r, xij), _mm256_mul_pd(w_i, xrj));
            _mm_storeu_ps(rj + q, _mm_mul_ps(_mm256_cvtpd_ps(_mm256_sub_pd(xri, tr)), sc));
            _mm_storeu_ps(ij + q, _mm_mul_ps(_mm256_cvtpd_ps(_mm256_sub_pd(xii, ti)), sc));
            _mm_storeu_ps(ri + q, _mm_mul_ps(_mm256_cvtpd_ps(_mm256_add_pd(xri, tr)), sc));
            _mm_storeu_ps(ii + q, _mm_mul_ps(_mm256_cvtpd_ps(_mm256_add_pd(xii, ti)), sc));
        }
    }
}

inline __attribute__((target("avx"))) void Butterflies4(__m128& i4, __m128& j4, __m128& ii4, __m128& ij4,
                                                     __m256d w_r, __m256d w_i) {
    const __m256d xri = _mm256_cvtps_pd(i4);
    const __m256d xii = _mm256_cvtps_pd(ii4);
    const __m256d xrj = _mm256_cvtps_pd(j4);
    const __m256d xij = _mm256_cvtps_pd(ij4);
    const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(w_r, xrj), _mm256_mul_pd(w_i, xij));
    const __m256d ti = _mm256_add_pd(_mm256_mul_pd(w_r, xij), _mm256_mul_pd(w_i, xrj));
    j4 = _mm256_cvtpd_ps(_mm256_sub_pd(xri, tr));
    ij4 = _mm256_cvtpd_ps(_mm256_sub_pd(xii, ti));
    i4 = _mm256_cvtpd_ps(_mm256_add_pd(xri, tr));
    ii4 = _mm256_cvtpd_ps(_mm256_add_pd(xii, ti));
}

// Two passes at once, half-spans m and 2m (m >= 4): each group of four elements
// a, a+m, a+2m, a+3m goes through both butterfly stages in registers. Every butterfly
// is computed and rounded exactly as in separate passes; only the loads and stores
// between the two stages are saved. The scale is applied after the second stage.
__attribute__((target("avx"))) void PassAvxTwo(float* re, float* im, int n, int m,
                                               const double* wr1, const double* wi1,
                                               const double* wr2, const double* wi2,
                                               float scale) {
    const __m128 sc = _mm_set1_ps(scale);
    for (int s = 0; s < n; s += 4 * m) {
        float* r0 = re + s;
        float* i0 = im + s;
        for (int q = 0; q < m; q += 4) {
            __m128 ra = _mm_loadu_ps(r0 + q);
            __m128 rb = _mm_loadu_ps(r0 + q + m);
            __m128 rc = _mm_loadu_ps(r0 + q + 2 * m);
            __m128 rd = _mm_loadu_ps(r0 + q + 3 * m);
            __m128 ia = _mm_loadu_ps(i0 + q);
            __m128 ib = _mm_loadu_ps(i0 + q + m);
            __m128 ic = _mm_loadu_ps(i0 + q + 2 * m);
            __m128 id = _mm_loadu_ps(i0 + q + 3 * m);
            const __m256d w1r = _mm256_loadu_pd(wr1 + q);
            const __m256d w1i = _mm256_loadu_pd(wi1 + q);
            Butterflies4(ra, rb, ia, ib, w1r, w1i);
            Butterflies4(rc, rd, ic, id, w1r, w1i);
            Butterflies4(ra, rc, ia, ic, _mm256_loadu_pd(wr2 + q), _mm256_loadu_pd(wi2 + q));
            Butterflies4(rb, rd, ib, id, _mm256_loadu_pd(wr2 + q + m), _mm256_loadu_pd(wi2 + q + m));
            _mm_storeu_ps(r0 + q, _mm_mul_ps(ra, sc));
            _mm_storeu_ps(r0 + q + m, _mm_mul_ps(rb, sc));
            _mm_storeu_ps(r0 + q + 2 * m, _mm_mul_ps(rc, sc));
            _mm_storeu_ps(r0 + q + 3 * m, _mm_mul_ps(rd, sc));
            _mm_storeu_ps(i0 + q, _mm_mul_ps(ia, sc));
            _mm_storeu_ps(i0 + q + m, _mm_mul_ps(ib, sc));
            _mm_storeu_ps(i0 + q + 2 * m, _mm_mul_ps(ic, sc));
            _mm_storeu_ps(i0 + q + 3 * m, _mm_mul_ps(id, sc));
        }
    }
}

// The first two passes (half-spans 1 and 2) on eight consecutive elements held in
// registers: butterflies (s, s+1) ... then (s+q, s+2+q), q = 0, 1, each computed and
// rounded as in separate passes.
struct FirstTwiddles {
    __m256d w1r, w1i, w2r, w2i;
};

inline __attribute__((target("avx"))) FirstTwiddles LoadFirstTwiddles(const double* wr,
                                                                    const double* wi) {
    // Half-span 1 uses entry 0, half-span 2 entries 1 and 2 of the table.
    return {_mm256_set1_pd(wr[0]), _mm256_set1_pd(wi[0]),
            _mm256_set_pd(wr[2], wr[1], wr[2], wr[1]), _mm256_set_pd(wi[2], wi[1], wi[2], wi[1])};
}

inline __attribute__((target("avx"))) void FirstTwoPasses(__m128& ra, __m128& rb, __m128& ia,
                                                          __m128& ib, const FirstTwiddles& t) {
    __m128 ri = _mm_shuffle_ps(ra, rb, _MM_SHUFFLE(2, 0, 2, 0));
    __m128 rj = _mm_shuffle_ps(ra, rb, _MM_SHUFFLE(3, 1, 3, 1));
    __m128 ii = _mm_shuffle_ps(ia, ib, _MM_SHUFFLE(2, 0, 2, 0));
    __m128 ij = _mm_shuffle_ps(ia, ib, _MM_SHUFFLE(3, 1, 3, 1));
    Butterflies4(ri, rj, ii, ij, t.w1r, t.w1i);
    ra = _mm_unpacklo_ps(ri, rj);
    rb = _mm_unpackhi_ps(ri, rj);
    ia = _mm_unpacklo_ps(ii, ij);
    ib = _mm_unpackhi_ps(ii, ij);

    ri = _mm_shuffle_ps(ra, rb, _MM_SHUFFLE(1, 0, 1, 0));
    rj = _mm_shuffle_ps(ra, rb, _MM_SHUFFLE(3, 2, 3, 2));
    ii = _mm_shuffle_ps(ia, ib, _MM_SHUFFLE(1, 0, 1, 0));
    ij = _mm_shuffle_ps(ia, ib, _MM_SHUFFLE(3, 2, 3, 2));
    Butterflies4(ri, rj, ii, ij, t.w2r, t.w2i);
    ra = _mm_shuffle_ps(ri, rj, _MM_SHUFFLE(1, 0, 1, 0));
    rb = _mm_shuffle_ps(ri, rj, _MM_SHUFFLE(3, 2, 3, 2));
    ia = _mm_shuffle_ps(ii, ij, _MM_SHUFFLE(1, 0, 1, 0));
    ib = _mm_shuffle_ps(ii, ij, _MM_SHUFFLE(3, 2, 3, 2));
}

__attribute__((target("avx"))) void PassAvxFirstTwo(float* re, float* im, int n,
                                                    const double* wr, const double* wi) {
    const FirstTwiddles t = LoadFirstTwiddles(wr, wi);
    for (int s = 0; s < n; s += 8) {
        __m128 ra = _mm_loadu_ps(re + s);
        __m128 rb = _mm_loadu_ps(re + s + 4);
        __m128 ia = _mm_loadu_ps(im + s);
        __m128 ib = _mm_loadu_ps(im + s + 4);
        FirstTwoPasses(ra, rb, ia, ib, t);
        _mm_storeu_ps(re + s, ra);
        _mm_storeu_ps(re + s + 4, rb);
        _mm_storeu_ps(im + s, ia);
        _mm_storeu_ps(im + s + 4, ib);
    }
}

// Windowing, bit reversal and the first two passes of a real block in one sweep: the
// element that bit reversal moves to position p is samples[rev[p]] * window[rev[p]]
// (the same single-precision product as windowing in place), with imaginary part 0.
__attribute__((target("avx"))) void WindowReverseFirstTwo(const float* samples,
                                                          const float* window, const int* rev,
                                                          float* re, float* im, int n,
                                                          const double* wr, const double* wi) {
    const FirstTwiddles t = LoadFirstTwiddles(wr, wi);
    float v[8];
    for (int s = 0; s < n; s += 8) {
        for (int k = 0; k < 8; ++k) {
            const int src = rev[s + k];
            v[k] = samples[src] * window[src];
        }
        __m128 ra = _mm_loadu_ps(v);
        __m128 rb = _mm_loadu_ps(v + 4);
        __m128 ia = _mm_setzero_ps();
        __m128 ib = _mm_setzero_ps();
        FirstTwoPasses(ra, rb, ia, ib, t);
        _mm_storeu_ps(re + s, ra);
        _mm_storeu_ps(re + s + 4, rb);
        _mm_storeu_ps(im + s, ia);
        _mm_storeu_ps(im + s + 4, ib);
    }
}

#endif

}  // namespace

namespace {
// Changed only by tests (before any transform runs); the program keeps Auto.
FftPath g_forcedPath = FftPath::Auto;
}  // namespace

void SetFftPath(FftPath path) { g_forcedPath = path; }

bool HasAvx() {
#if SONVERA_FFT_X86
    static const bool has = __builtin_cpu_supports("avx");
    return has && (g_forcedPath == FftPath::Auto || g_forcedPath == FftPath::Avx);
#else
    return false;
#endif
}

bool HasAvx512() {
#if SONVERA_FFT_X86
    static const bool has = __builtin_cpu_supports("avx512f");
    return has && g_forcedPath == FftPath::Auto;
#else
    return false;
#endif
}

namespace {

#if SONVERA_FFT_X86

// The final pass for a magnitude spectrum: only the outputs X[0..N/2-1] (x[i] + t) are
// formed, scaled by 1/N, and turned into sqrt(re^2 + im^2) in double, rounded once,
// stored into out[0..N/2-1] (which may be re itself).
__attribute__((target("avx"))) void FinalPassMagnitudesAvx(float* re, float* im, float* out,
                                                          int n, const double* wr,
                                                          const double* wi, float scale) {
    const int m = n / 2;
    const __m128 sc = _mm_set1_ps(scale);
    for (int q = 0; q < m; q += 4) {
        const __m256d w_r = _mm256_loadu_pd(wr + q);
        const __m256d w_i = _mm256_loadu_pd(wi + q);
        const __m256d xrj = _mm256_cvtps_pd(_mm_loadu_ps(re + q + m));
        const __m256d xij = _mm256_cvtps_pd(_mm_loadu_ps(im + q + m));
        const __m256d xri = _mm256_cvtps_pd(_mm_loadu_ps(re + q));
        const __m256d xii = _mm256_cvtps_pd(_mm_loadu_ps(im + q));
        const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(w_r, xrj), _mm256_mul_pd(w_i, xij));
        const __m256d ti = _mm256_add_pd(_mm256_mul_pd(w_r, xij), _mm256_mul_pd(w_i, xrj));
        const __m256d outR = _mm256_cvtps_pd(_mm_mul_ps(_mm256_cvtpd_ps(_mm256_add_pd(xri, tr)), sc));
        const __m256d outI = _mm256_cvtps_pd(_mm_mul_ps(_mm256_cvtpd_ps(_mm256_add_pd(xii, ti)), sc));
        const __m256d sum = _mm256_add_pd(_mm256_mul_pd(outR, outR), _mm256_mul_pd(outI, outI));
        _mm_storeu_ps(out + q, _mm256_cvtpd_ps(_mm256_sqrt_pd(sum)));
    }
}

// The same kernels with 512-bit double lanes (eight butterflies per step, m >= 8).
// These targets also offer fused multiply-add, which would change the rounding of
// t = w * x[j]; contraction is therefore switched off for them.
#define SONVERA_AVX512 __attribute__((target("avx512f"), optimize("fp-contract=off")))

// Conversions and square root with an all-ones zeroing mask: the same instructions and results as the
// unmasked forms, written so because GCC 12 warns about the undefined merge operand of
// those (maybe-uninitialized) in optimised builds.
inline SONVERA_AVX512 __m512d CvtToDouble8(__m256 x) { return _mm512_maskz_cvtps_pd(0xFF, x); }
inline SONVERA_AVX512 __m256 CvtToFloat8(__m512d x) { return _mm512_maskz_cvtpd_ps(0xFF, x); }
inline SONVERA_AVX512 __m512d Sqrt8(__m512d x) { return _mm512_maskz_sqrt_pd(0xFF, x); }

inline SONVERA_AVX512 void Butterflies8(__m256& i8, __m256& j8, __m256& ii8, __m256& ij8,
                                        __m512d w_r, __m512d w_i) {
    const __m512d xri = CvtToDouble8(i8);
    const __m512d xii = CvtToDouble8(ii8);
    const __m512d xrj = CvtToDouble8(j8);
    const __m512d xij = CvtToDouble8(ij8);
    const __m512d tr = _mm512_sub_pd(_mm512_mul_pd(w_r, xrj), _mm512_mul_pd(w_i, xij));
    const __m512d ti = _mm512_add_pd(_mm512_mul_pd(w_r, xij), _mm512_mul_pd(w_i, xrj));
    j8 = CvtToFloat8(_mm512_sub_pd(xri, tr));
    ij8 = CvtToFloat8(_mm512_sub_pd(xii, ti));
    i8 = CvtToFloat8(_mm512_add_pd(xri, tr));
    ii8 = CvtToFloat8(_mm512_add_pd(xii, ti));
}

SONVERA_AVX512 void PassAvx512(float* re, float* im, int n, int m, const double* wr,
                               const double* wi, float scale) {
    const __m256 sc = _mm256_set1_ps(scale);
    for (int s = 0; s < n; s += 2 * m) {
        float* ri = re + s;
        float* ii = im + s;
        float* rj = ri + m;
        float* ij = ii + m;
        for (int q = 0; q < m; q += 8) {
            __m256 xri = _mm256_loadu_ps(ri + q);
            __m256 xrj = _mm256_loadu_ps(rj + q);
            __m256 xii = _mm256_loadu_ps(ii + q);
            __m256 xij = _mm256_loadu_ps(ij + q);
            Butterflies8(xri, xrj, xii, xij, _mm512_loadu_pd(wr + q), _mm512_loadu_pd(wi + q));
            _mm256_storeu_ps(ri + q, _mm256_mul_ps(xri, sc));
            _mm256_storeu_ps(rj + q, _mm256_mul_ps(xrj, sc));
            _mm256_storeu_ps(ii + q, _mm256_mul_ps(xii, sc));
            _mm256_storeu_ps(ij + q, _mm256_mul_ps(xij, sc));
        }
    }
}

SONVERA_AVX512 void PassAvx512Two(float* re, float* im, int n, int m, const double* wr1,
                                  const double* wi1, const double* wr2, const double* wi2,
                                  float scale) {
    const __m256 sc = _mm256_set1_ps(scale);
    for (int s = 0; s < n; s += 4 * m) {
        float* r0 = re + s;
        float* i0 = im + s;
        for (int q = 0; q < m; q += 8) {
            __m256 ra = _mm256_loadu_ps(r0 + q);
            __m256 rb = _mm256_loadu_ps(r0 + q + m);
            __m256 rc = _mm256_loadu_ps(r0 + q + 2 * m);
            __m256 rd = _mm256_loadu_ps(r0 + q + 3 * m);
            __m256 ia = _mm256_loadu_ps(i0 + q);
            __m256 ib = _mm256_loadu_ps(i0 + q + m);
            __m256 ic = _mm256_loadu_ps(i0 + q + 2 * m);
            __m256 id = _mm256_loadu_ps(i0 + q + 3 * m);
            const __m512d w1r = _mm512_loadu_pd(wr1 + q);
            const __m512d w1i = _mm512_loadu_pd(wi1 + q);
            Butterflies8(ra, rb, ia, ib, w1r, w1i);
            Butterflies8(rc, rd, ic, id, w1r, w1i);
            Butterflies8(ra, rc, ia, ic, _mm512_loadu_pd(wr2 + q), _mm512_loadu_pd(wi2 + q));
            Butterflies8(rb, rd, ib, id, _mm512_loadu_pd(wr2 + q + m), _mm512_loadu_pd(wi2 + q + m));
            _mm256_storeu_ps(r0 + q, _mm256_mul_ps(ra, sc));
            _mm256_storeu_ps(r0 + q + m, _mm256_mul_ps(rb, sc));
            _mm256_storeu_ps(r0 + q + 2 * m, _mm256_mul_ps(rc, sc));
            _mm256_storeu_ps(r0 + q + 3 * m, _mm256_mul_ps(rd, sc));
            _mm256_storeu_ps(i0 + q, _mm256_mul_ps(ia, sc));
            _mm256_storeu_ps(i0 + q + m, _mm256_mul_ps(ib, sc));
            _mm256_storeu_ps(i0 + q + 2 * m, _mm256_mul_ps(ic, sc));
            _mm256_storeu_ps(i0 + q + 3 * m, _mm256_mul_ps(id, sc));
        }
    }
}

SONVERA_AVX512 void FinalPassMagnitudesAvx512(float* re, float* im, float* out, int n,
                                              const double* wr, const double* wi,
                                              float scale) {
    const int m = n / 2;
    const __m256 sc = _mm256_set1_ps(scale);
    for (int q = 0; q < m; q += 8) {
        const __m512d w_r = _mm512_loadu_pd(wr + q);
        const __m512d w_i = _mm512_loadu_pd(wi + q);
        const __m512d xrj = CvtToDouble8(_mm256_loadu_ps(re + q + m));
        const __m512d xij = CvtToDouble8(_mm256_loadu_ps(im + q + m));
        const __m512d xri = CvtToDouble8(_mm256_loadu_ps(re + q));
        const __m512d xii = CvtToDouble8(_mm256_loadu_ps(im + q));
        const __m512d tr = _mm512_sub_pd(_mm512_mul_pd(w_r, xrj), _mm512_mul_pd(w_i, xij));
        const __m512d ti = _mm512_add_pd(_mm512_mul_pd(w_r, xij), _mm512_mul_pd(w_i, xrj));
        const __m512d outR =
            CvtToDouble8(_mm256_mul_ps(CvtToFloat8(_mm512_add_pd(xri, tr)), sc));
        const __m512d outI =
            CvtToDouble8(_mm256_mul_ps(CvtToFloat8(_mm512_add_pd(xii, ti)), sc));
        const __m512d sum = _mm512_add_pd(_mm512_mul_pd(outR, outR), _mm512_mul_pd(outI, outI));
        _mm256_storeu_ps(out + q, CvtToFloat8(Sqrt8(sum)));
    }
}

// Vector passes from half-span 4 on, after the first two passes. With out != nullptr
// the last pass is FinalPassMagnitudesAvx into out; otherwise the last pass applies the
// 1/N scaling. Requires n >= 8.
void VectorPassesFrom4(float* re, float* im, int n, float* out) {
    const TwiddleTable& tw = Twiddles();
    const float scale = 1.0f / static_cast<float>(n);
    const int stop = out != nullptr ? n / 2 : n;
    int m = 4;
    while (m < stop) {
        const double* wr = tw.re.data() + (m - 1);
        const double* wi = tw.im.data() + (m - 1);
        const bool wide = m >= 8 && HasAvx512();
        if (4 * m <= stop) {
            const bool last = out == nullptr && 4 * m == n;
            const double* wr2 = tw.re.data() + (2 * m - 1);
            const double* wi2 = tw.im.data() + (2 * m - 1);
            if (wide) {
                PassAvx512Two(re, im, n, m, wr, wi, wr2, wi2, last ? scale : 1.0f);
            } else {
                PassAvxTwo(re, im, n, m, wr, wi, wr2, wi2, last ? scale : 1.0f);
            }
            m *= 4;
        } else {
            if (wide) {
                PassAvx512(re, im, n, m, wr, wi, out == nullptr ? scale : 1.0f);
            } else {
                PassAvx(re, im, n, m, wr, wi, out == nullptr ? scale : 1.0f);
            }
            m *= 2;
        }
    }
    if (out != nullptr) {
        const double* wr = tw.re.data() + (m - 1);
        const double* wi = tw.im.data() + (m - 1);
        if (m >= 8 && HasAvx512()) {
            FinalPassMagnitudesAvx512(re, im, out, n, wr, wi, scale);
        } else {
            FinalPassMagnitudesAvx(re, im, out, n, wr, wi, scale);
        }
    }
}

#endif

// Bit reversal and the butterfly passes without vectors wider than SSE2.
void PortableTransform(float* re, float* im, int n) {
    const TwiddleTable& tw = Twiddles();
    BitReverse(re, im, tw.swaps[static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(n)))]);
    for (int m = 1; m < n; m *= 2) {
        const double* wr = tw.re.data() + (m - 1);
        const double* wi = tw.im.data() + (m - 1);
#if SONVERA_FFT_X86
        if (m >= 2 && g_forcedPath != FftPath::Scalar) {
            PassSse2(re, im, n, m, wr, wi);
            continue;
        }
#endif
        PassScalar(re, im, n, m, wr, wi);
    }
    // Division by a power of two is exact, so multiplying by 1/N gives the same bits.
    const float scale = 1.0f / static_cast<float>(n);
    for (int i = 0; i < n; ++i) {
        re[i] *= scale;
        im[i] *= scale;
    }
}

void Magnitudes(const float* re, const float* im, float* out, int count) {
    for (int k = 0; k < count; ++k) {
        const double r = re[k];
        const double i = im[k];
        out[k] = static_cast<float>(std::sqrt(r * r + i * i));
    }
}

}  // namespace

bool Fft(float* re, float* im, int n) {
    if (re == nullptr || im == nullptr || !IsValidTransformSize(n)) return false;
#if SONVERA_FFT_X86
    if (HasAvx() && n >= 8) {
        const TwiddleTable& tw = Twiddles();
        BitReverse(re, im, tw.swaps[static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(n)))]);
        PassAvxFirstTwo(re, im, n, tw.re.data(), tw.im.data());
        VectorPassesFrom4(re, im, n, nullptr);
        return true;
    }
#endif
    PortableTransform(re, im, n);
    return true;
}

bool WindowedMagnitudes(const float* samples, const float* window, float* re, float* im,
                        float* out, int n) {
    if (samples == nullptr || window == nullptr || re == nullptr || im == nullptr ||
        out == nullptr || !IsValidTransformSize(n)) {
        return false;
    }
#if SONVERA_FFT_X86
    if (HasAvx() && n >= 8) {
        const TwiddleTable& tw = Twiddles();
        const int* rev =
            tw.reversal[static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(n)))].data();
        WindowReverseFirstTwo(samples, window, rev, re, im, n, tw.re.data(), tw.im.data());
        VectorPassesFrom4(re, im, n, out);
        return true;
    }
#endif
    for (int i = 0; i < n; ++i) {
        re[i] = samples[i] * window[i];
        im[i] = 0.0f;
    }
    PortableTransform(re, im, n);
    Magnitudes(re, im, out, n / 2);
    return true;
}

}  // namespace sonvera
