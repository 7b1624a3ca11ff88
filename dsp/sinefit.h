#pragma once
// Amplitude and phase of one known frequency in a block of samples: a least-squares fit
// of a sine and a constant, so a block that holds a few periods, or not a whole number
// of them, is measured as exactly as one that holds many.

#include <complex>

namespace sonvera {

/// The fitted tone x[n] ≈ dc + Re(phasor · e^(jωn)), n counted from the middle of the
/// block, and the RMS of what the fit leaves over (noise, harmonics, transients).
struct SineFit {
    std::complex<double> phasor;  // amplitude (full scale 1.0) and phase (radians)
    double dc = 0.0;
    double residualRms = 0.0;
    int count = 0;                // samples fitted

    double Amplitude() const { return std::abs(phasor); }
    /// True when the tone stands out of the residual: its amplitude is more than five
    /// times what white noise of the residual's RMS gives a fitted amplitude on average
    /// (sqrt(2/count) of it), which noise alone exceeds with a probability below 1e-5.
    /// An all-zero or constant input never carries the tone.
    bool CarriesTone() const;
};

/// Fits dc + a·cos(ωn) + b·sin(ωn), ω = 2π·freqHz/rateHz, to samples[0], samples[stride],
/// ... (count values; stride 2 picks one channel of an interleaved pair). At exactly
/// half the rate only the cosine exists and the phase is 0 or 180 degrees. A count
/// below 3, a stride below 1 or a frequency outside (0, rateHz/2] gives an empty fit.
SineFit FitSine(const float* samples, int count, int stride, double freqHz, double rateHz);

/// The same fit with the tone given as an analytic signal (its real part and its
/// quadrature, count values): samples ≈ dc + Re(phasor · signal[n]). For a signal that
/// changes its frequency, such as a sweep.
SineFit FitSignal(const float* samples, int count, int stride, const std::complex<double>* signal);

}  // namespace sonvera
