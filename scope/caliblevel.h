#pragma once

#include <optional>
#include <string>

#include "config/settings.h"

namespace sonvera {

/// The three numbers the calibration dialog hands back.
struct CalibValues {
    double calibMv = 0.0;      // input calibration, mV effective
    double levelFactor = 0.0;  // dB per natural-log unit
    double levelOffset = 0.0;  // dB
};

/// The level display of one block: "over N" when N values reached full scale, else
/// 0.02 x the sum of all absolute sample values as "%4.1f%%" (" 0.0%" for silence).
std::string CalibLevelText(const float* values, int valueCount, int overloadCount);

/// The calibration value as the dialog shows it: width 5, 1 decimal ("268.0", "  1.5").
std::string CalibValueText(double mv);
/// Factor and offset as the dialog shows them: 5 decimals ("8.72200").
std::string LevelNumberText(double v);

/// Reads one typed number: optional blanks around it, "." as decimal mark, finite.
std::optional<double> ParseTypedNumber(const std::string& text);
/// Reads the three entries; empty when any does not parse completely or the
/// calibration value is not above 0. A factor or offset whose text is still the one the
/// dialog was filled with (LevelNumberText of `shownFactor`, `shownOffset`) keeps that
/// value whole: the dialog shows 5 decimals, the exact defaults have more.
std::optional<CalibValues> ParseCalibValues(const std::string& calib, const std::string& factor,
                                            const std::string& offset, double shownFactor = 0.0,
                                            double shownOffset = 0.0);

/// What the calibration command does with an accepted dialog: the input and output
/// calibration both take the typed value, the level factor and offset the typed ones.
/// The caller then writes the configuration.
void StoreCalibValues(const CalibValues& values, CalibSettings& calib, VolumeSettings& volume);

}  // namespace sonvera
