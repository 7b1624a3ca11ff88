#pragma once

#include "config/settings.h"
#include "dsp/curve.h"
#include "dsp/weighting.h"

namespace sonvera {

/// The state the main window keeps process-wide: settings, correction curves, the
/// weighting filter and the loader that fills curves from files.
struct ShellState {
    Settings settings;
    CorrectionCurve InCorrection;
    CorrectionCurve OutCorrection;
    WeightingFilter filter;
};

}  // namespace sonvera
