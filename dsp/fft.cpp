#include "dsp/fft.h"

#include <cmath>
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

    TwiddleTable() : re(kWindowTableSize), im(kWindowTableSize) {
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

void BitReverse(float* re, float* im, int n) {
    int j = 0;
    for (int i = 1; i <= n - 1; ++i) {
        int k = n / 2;
        while (j + k > n - 1) k /= 2;
        j = (j % k) + k;
        if (j > i) {
            const float tr = re[i];
            re[i] = re[j];
            re[j] = tr;
            const float ti = im[i];
            im[i] = im[j];
            im[j] = ti;
        }
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
__attribute__((target("avx"))) void PassAvx(float* re, float* im, int n, int m,
                                            const double* wr, const double* wi) {
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
            _mm_storeu_ps(rj + q, _mm256_cvtpd_ps(_mm256_sub_pd(xri, tr)));
            _mm_storeu_ps(ij + q, _mm256_cvtpd_ps(_mm256_sub_pd(xii, ti)));
            _mm_storeu_ps(ri + q, _mm256_cvtpd_ps(_mm256_add_pd(xri, tr)));
            _mm_storeu_ps(ii + q, _mm256_cvtpd_ps(_mm256_add_pd(xii, ti)));
        }
    }
}

bool HasAvx() {
    static const bool has = __builtin_cpu_supports("avx");
    return has;
}
#endif

}  // namespace

bool Fft(float* re, float* im, int n) {
    if (re == nullptr || im == nullptr || !IsValidTransformSize(n)) return false;
    const TwiddleTable& tw = Twiddles();

    BitReverse(re, im, n);

    for (int m = 1; m < n; m *= 2) {
        const double* wr = tw.re.data() + (m - 1);
        const double* wi = tw.im.data() + (m - 1);
#if SONVERA_FFT_X86
        if (m >= 4 && HasAvx()) {
            PassAvx(re, im, n, m, wr, wi);
        } else if (m >= 2) {
            PassSse2(re, im, n, m, wr, wi);
        } else {
            PassScalar(re, im, n, m, wr, wi);
        }
#else
        PassScalar(re, im, n, m, wr, wi);
#endif
    }

    // Division by a power of two is exact, so multiplying by 1/N gives the same bits.
    const float scale = 1.0f / static_cast<float>(n);
    for (int i = 0; i < n; ++i) {
        re[i] *= scale;
        im[i] *= scale;
    }
    return true;
}

}  // namespace sonvera
