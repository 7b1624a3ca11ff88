#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sonvera {

/// Colours are 32-bit values with red in the low byte (0x00BBGGRR).
using Colour = std::uint32_t;

/// Section "MAIN": devices, language, correction files, main window position.
struct MainSettings {
    int InDeviceIndex = 0;
    int OutDeviceIndex = 0;
    char UiLanguage = 'D';          // 'D' German, 'E' English
    std::string InCorrectionFile;   // empty: no input correction file
    std::string OutCorrectionFile;  // empty: no output correction file
    bool InCorrActive = false;
    bool OutCorrActive = false;
    int MainLeft = 200;
    int MainTop = 200;
};

/// Section "EICH": calibration values (sound-card units per volt and dB offsets).
struct CalibSettings {
    double InCalibValue = 268.0;
    double OutCalibValue = 123.0;
};

/// The exact level scale of the spectrum diagram: 20/ln 10 and 20·log10(4).
inline constexpr double kExactLevelFactor = 8.685889638065036;
inline constexpr double kExactLevelOffset = 12.041199826559248;

/// Section "VOLUME": generator volumes in percent and the level scale of the spectrum.
struct VolumeSettings {
    int GenOutVolume = 20;
    int GenInVolume = 100;
    // dB = LevelFactor·ln(magnitude) + LevelOffset. The defaults are exact: 20/ln 10 dB per
    // natural-log unit, and 20·log10(4) dB, so the peak of a full-scale sine (magnitude 1/4)
    // reads 0 dBFS.
    double LevelFactor = kExactLevelFactor;
    double LevelOffset = kExactLevelOffset;
    int InChannel = -2;          // auxiliary input line; -2 lets the engine choose
};

/// Section "FFT": the spectrum analyser.
struct FftSettings {
    int FftWindow = 8;
    int FftPoints = 1024;
    int FftAverage = 1;
    std::string FftComment = "Kommentar:";
    double FftYMin = -110.0;  // dB
    double FftYMax = 0.0;     // dB
    int FftXMin = 10;         // Hz
    int FftXMax = 28000;      // Hz
    double FftYStep = 5.0;    // dB, read only
};

/// Section "WOB": the sweep settings record, edited by the sweep dialog.
struct SweepSettings {
    bool SweepWithRef = true;     // mono with the left channel as reference
    bool SweepLinear = false;     // false: logarithmic spacing
    bool SweepPhase = false;      // curve 2 shown (with reference)
    /// What curve 2 shows with reference: kSweepCurve2Phase, or one of the distortion
    /// readings of the right input (THD, THD+N, H2..H5 in dB re the fundamental).
    int SweepCurve2 = 0;
    int SweepSettleTime = 100;    // ms between tone start and capture start
    int SweepSteps = 50;
    int SweepFrom = 20;           // Hz
    int SweepTo = 20000;          // Hz (within half of every common rate)
    float SweepPhaseMin = -180.0f; // degrees
    float SweepPhaseMax = 180.0f;  // degrees
    float SweepLevel = 0.0f;      // dB re digital full scale; -100 is "OFF"
    std::string SweepComment = "Kommentar:";
    double SweepYMin = -45.0;     // dB
    double SweepYMax = 5.0;       // dB
};

/// Section "OSZI": the oscilloscope.
struct ScopeSettings {
    int ScopeDiv1 = 10;
    int ScopeDiv2 = 10;
    int ScopeTimebase = 5;
    bool ScopeGnd1 = false;
    bool ScopeGnd2 = false;
    bool ScopeTrigRising = true;
    bool ScopeTrigCh1 = true;
};

/// Section "DIAGRAMM": the diagram window's geometry in pixels.
struct DiagramGeometry {
    int DiagramWidth = 450;
    int DiagramHeight = 320;
    int DiagramLeft = 0;
    int DiagramTop = 0;
};

/// Section "ANALYSE": THD+N and level analysis.
struct AnalysisSettings {
    bool ThdMeasure = false;
    bool NoiseMeasure = false;
    bool FundAuto = true;
    double Fundamental = 1000.0;   // Hz, stored in whole hertz
    int AnaFreqLow = 100;          // Hz
    int AnaFreqHigh = 20000;       // Hz
    double FundThreshold = 0.001;
    std::string AnaFilterName = "none";
    std::string AnaFilterFile;     // the correction file of the "USER" weighting
};

/// Section "GEN": the signal generator window.
struct GeneratorSettings {
    int GenFrequency = 1000;  // Hz
    int GenPhaseL = 0;        // degrees
    int GenPhaseR = 0;        // degrees
    int GenVolL = 0;          // dB
    int GenVolR = 0;          // dB
    int GenMode = 0;          // "Sin", "Sqr", "white", "pink", "User", "SMPTE", "DIN", "CCIF"
    std::string GenUserFile;
};

/// What the second curve of the log sweep shows.
enum class LogSweepCurve { Phase, Thd, H2, H3, H4, H5, LeftLevel };

/// Section "LOGSWEEP": the exponential sine sweep with deconvolution.
struct LogSweepSettings {
    double LogSweepFrom = 20.0;       // Hz, at least 1
    double LogSweepTo = 20000.0;      // Hz, above from (at most half the rate when run)
    double LogSweepSeconds = 3.0;     // 0.5 .. 60
    double LogSweepLevel = -6.0;      // dB re digital full scale, at most 0
    bool LogSweepWithRef = true;      // the left input as reference; false: stereo
    LogSweepCurve LogSweepCurve2 = LogSweepCurve::Phase;
    int LogSweepPointsPerOctave = 48; // 1 .. 200
};

/// The PCM format of one wave device (always PCM, always 2 channels).
struct WaveFormat {
    std::uint16_t FormatTag = 1;
    std::uint16_t Channels = 2;
    std::uint32_t SamplesPerSec = 44100;
    std::uint32_t AvgBytesPerSec = 44100 * 4;
    std::uint16_t BlockAlign = 4;
    std::uint16_t BitsPerSample = 16;  // 8, 16 or 32; 24-bit samples travel as 32
    std::uint16_t ExtraSize = 0;
};

/// Per-device record persisted in section "SDSOUND".
struct DeviceFormat {
    std::string DeviceName;       // product name when the settings were last loaded
    std::uint8_t SwapFlag = 0;    // 1: exchange left and right
    std::int32_t UserRate = 55200;
    WaveFormat Format;
};

/// Diagram options: flags, ranges, colours and the export separator (section "DIAGPRIV").
/// The smoothing widths a diagram page can have: none (0) and 1/1 .. 1/48 octave, by
/// the N of 1/N.
inline constexpr std::array<std::uint8_t, 8> kSmoothingFractions{0, 1, 2, 3, 6, 12, 24, 48};

struct DiagramOptions {
    std::uint8_t StoreCurve1 = 1;
    std::uint8_t StoreCurve2 = 0;
    std::uint8_t DrawCurve1 = 1;
    std::uint8_t DrawCurve2 = 0;
    std::uint8_t CursorFreq = 0;
    std::uint8_t CursorLevel = 1;
    std::uint8_t CursorSlope = 0;
    std::uint8_t YStepAuto = 1;
    std::uint8_t XLog = 1;
    float YStep = 5.0f;      // dB
    float LevelMin = 0.0f;   // mirror of the diagram's range
    float LevelMax = 0.0f;
    std::int32_t FreqMin = 0;
    std::int32_t FreqMax = 0;
    Colour ColCur = 0x000000;
    Colour ColDia = 0xFFFF00;
    Colour ColGrid = 0x00FFFF;
    Colour ColLine1 = 0x0000FF;
    Colour ColLine2 = 0xFF0000;
    Colour ColMargin = 0xC0C0C0;
    Colour ColText = 0x000000;
    std::string Separator = ",";
    /// Smoothing of the shown curves per page (spectrum, sweep): the N of 1/N octave, 0 none.
    std::array<std::uint8_t, 2> Smoothing{0, 0};
};

/// Every persistent setting of the program, grouped by configuration section.
struct Settings {
    MainSettings Main;
    CalibSettings Calib;
    VolumeSettings Volume;
    FftSettings Fft;
    SweepSettings Sweep;
    ScopeSettings Scope;
    DiagramGeometry Diagram;
    AnalysisSettings Analysis;
    GeneratorSettings Generator;
    std::array<DeviceFormat, 3> InDeviceFormats;
    std::array<DeviceFormat, 3> OutDeviceFormats;
    DiagramOptions DiagramOpts;  // owned by the diagram window, persisted in "DIAGPRIV"
    LogSweepSettings LogSweep;   // owned by the log sweep window, persisted in "LOGSWEEP"
};

}  // namespace sonvera
