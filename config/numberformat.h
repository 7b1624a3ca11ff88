#pragma once

#include <string>

namespace sonvera {

/// The one way numbers become text wherever the program shows or writes them (result
/// lines, the diagram's table, axes and readouts, the oscilloscope's and the calibration's
/// labels, the configuration file): fixed point with `decimals` decimals and "." as
/// decimal mark whatever the locale, right-aligned in at least `width` characters. A
/// value that rounds to zero is written without a sign ("0.00", never "-0.00"); NaN is
/// "nan" and the infinities "inf" and "-inf".
std::string FormatFixed(double v, int decimals, int width = 0);

}  // namespace sonvera
