#include "config/sections.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include "config/profilevalues.h"

namespace sonvera {

namespace {

constexpr int kWindowCount = 9;       // FFT windows "None" .. "Rife-Vinc3"
constexpr int kWaveformCount = 8;     // generator "Sin", "Sqr", "white", "pink", "User", "SMPTE", "DIN", "CCIF"
constexpr int kMaxAverage = 9999;     // range of the spin box AverVal
constexpr int kMinSweepSteps = 1;     // range of the sweep dialog's step count
constexpr int kMaxSweepSteps = 1000;

/// Reads the keys of one section with that section's buffer size.
class SectionReader {
public:
    SectionReader(const ProfileFile& file, std::string_view section, std::size_t bufferSize)
        : file_(file), section_(section), bufferSize_(bufferSize)
    {
    }

    std::string Text(std::string_view key, std::string_view defaultText) const
    {
        return file_.GetString(section_, key, defaultText, bufferSize_);
    }

    std::optional<std::int32_t> Integer(std::string_view key, std::string_view defaultText) const
    {
        return ParseInteger(Text(key, defaultText));
    }

    int IntegerOr(std::string_view key, std::string_view defaultText, int fallback) const
    {
        return Integer(key, defaultText).value_or(fallback);
    }

    std::optional<double> Real(std::string_view key, std::string_view defaultText) const
    {
        return ParseReal(Text(key, defaultText));
    }

    double RealOr(std::string_view key, std::string_view defaultText, double fallback) const
    {
        return Real(key, defaultText).value_or(fallback);
    }

    // A real that is used in single precision: values beyond its range count as
    // unparsable (converting them would be undefined).
    double SingleRangeOr(std::string_view key, std::string_view defaultText, double fallback) const
    {
        const auto v = Real(key, defaultText);
        return (!v || std::fabs(*v) > static_cast<double>(FLT_MAX)) ? fallback : *v;
    }

    // A real held in single precision: values beyond its range count as unparsable.
    float SingleOr(std::string_view key, std::string_view defaultText, float fallback) const
    {
        const auto v = Real(key, defaultText);
        if (!v || std::fabs(*v) > static_cast<double>(FLT_MAX)) {
            return fallback;
        }
        return static_cast<float>(*v);
    }

    bool Boolean(std::string_view key, std::string_view defaultText) const
    {
        return ParseBoolean(Text(key, defaultText));
    }

private:
    const ProfileFile& file_;
    std::string_view section_;
    std::size_t bufferSize_;
};

/// Writes the keys of one section in the file's value formats.
class SectionWriter {
public:
    SectionWriter(ProfileFile& file, std::string_view section) : file_(file), section_(section) {}

    void Text(std::string_view key, std::string_view value) { file_.WriteString(section_, key, value); }
    void Integer(std::string_view key, std::int64_t value) { Text(key, FormatInteger(value)); }
    void Real(std::string_view key, double value, int decimals) { Text(key, RealText(value, decimals)); }
    void Boolean(std::string_view key, bool value) { Text(key, FormatBoolean(value)); }

    // A real with `decimals` decimals, like Real. When that text would read back as
    // `special`, which the reader replaces by a default or ignores, while the value is
    // another one, the shortest text that reads back as the value itself is written.
    template <typename T>
    void RealNotSpecial(std::string_view key, T value, int decimals, T special)
    {
        std::string text = RealText(value, decimals);
        if (value != special && ParseReal(text) == static_cast<double>(special)) {
            text = ShortestText(value);
        }
        Text(key, text);
    }

    // A real with `decimals` decimals when that text reads back as the value, else the
    // shortest text that does (the exact level scale has more decimals than 4).
    void RealKept(std::string_view key, double value, int decimals)
    {
        std::string text = RealText(value, decimals);
        if (ParseReal(text) != value) {
            text = ShortestText(value);
        }
        Text(key, text);
    }

private:
    // The shortest text that reads back as the value.
    template <typename T>
    static std::string ShortestText(T value)
    {
        char buf[64];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
        return ec == std::errc() ? std::string(buf, end) : FormatReal(value, 0);
    }

    // Fixed-point text with `decimals` decimals; a value too large for that text to fit
    // a reader's buffer (it would be read back cut) goes out in its shortest form.
    template <typename T>
    static std::string RealText(T value, int decimals)
    {
        std::string text = FormatReal(value, decimals);
        if (text.size() >= kMainBufferSize) {
            text = ShortestText(value);
        }
        return text;
    }

    ProfileFile& file_;
    std::string_view section_;
};

/// Keeps the writes of one writer together: one load and one save of the file (inside
/// a batch that is already running, they join it).
class BatchScope {
public:
    explicit BatchScope(ProfileFile& file) : file_(file) { file_.BeginBatch(); }
    ~BatchScope() { file_.EndBatch(); }
    BatchScope(const BatchScope&) = delete;
    BatchScope& operator=(const BatchScope&) = delete;

private:
    ProfileFile& file_;
};

// An integer where a special value also gives the default.
int IntegerOrSpecial(const SectionReader& r, std::string_view key, std::string_view defaultText, int fallback,
                     int special)
{
    const auto v = r.Integer(key, defaultText);
    return (!v || *v == special) ? fallback : *v;
}

// A positive integer: negative values count by their absolute value, 0 gives the
// default. The most negative integer has no positive counterpart and is unparsable.
int AbsoluteOrDefault(const SectionReader& r, std::string_view key, std::string_view defaultText, int fallback)
{
    const auto v = r.Integer(key, defaultText);
    if (!v || *v == 0 || *v == std::numeric_limits<std::int32_t>::min()) {
        return fallback;
    }
    return *v < 0 ? -*v : *v;
}

int DeviceIndex(const SectionReader& r, std::string_view key, const std::function<int()>& deviceCount)
{
    int index = r.IntegerOr(key, "0", 0);
    if (index < 0 || index > 2) {
        index = 0;
    }
    if (deviceCount && index >= deviceCount()) {
        index = 0;
    }
    return index;
}

Colour ColourOr(const SectionReader& r, std::string_view key, Colour fallback)
{
    const auto v = r.Integer(key, "0");
    if (!v || *v == 0) {
        return fallback;
    }
    // Kept bit for bit, so that any value survives a save (written back as read).
    return static_cast<Colour>(static_cast<std::uint32_t>(*v));
}

void ReadMain(const SectionReader& r, MainSettings& main, const MainReadHooks& hooks)
{
    main.InDeviceIndex = DeviceIndex(r, "INDEV", hooks.InDeviceCount);
    if (hooks.SelectInDevice) {
        hooks.SelectInDevice(main.InDeviceIndex);
    }
    main.OutDeviceIndex = DeviceIndex(r, "OUTDEV", hooks.OutDeviceCount);
    if (hooks.SelectOutDevice) {
        hooks.SelectOutDevice(main.OutDeviceIndex);
    }

    // Only the first character counts; an empty value or one that cannot stand alone
    // as a written character (control or non-ASCII byte) keeps German.
    const std::string language = r.Text("SPRACHE", "D");
    const bool printable = !language.empty() && language.front() > ' ' && language.front() < 0x7F;
    main.UiLanguage = printable ? language.front() : 'D';

    main.InCorrectionFile = r.Text("INCONAME", "");
    if (!main.InCorrectionFile.empty() && hooks.LoadInCorrection) {
        hooks.LoadInCorrection(main.InCorrectionFile);
    }
    main.OutCorrectionFile = r.Text("OUTCONAME", "");
    if (!main.OutCorrectionFile.empty() && hooks.LoadOutCorrection) {
        hooks.LoadOutCorrection(main.OutCorrectionFile);
    }
    main.InCorrActive = r.Boolean("INCOAKT", "FALSE");
    if (hooks.SetInCorrActive) {
        hooks.SetInCorrActive(main.InCorrActive);
    }
    main.OutCorrActive = r.Boolean("OUTCOAKT", "FALSE");
    if (hooks.SetOutCorrActive) {
        hooks.SetOutCorrActive(main.OutCorrActive);
    }
}

void ReadCalib(const SectionReader& r, CalibSettings& calib)
{
    // -1 (the default) and unparsable text keep the value the program already holds.
    if (const auto v = r.Real("INPUT", "-1"); v && *v != -1.0) {
        calib.InCalibValue = *v;
    }
    if (const auto v = r.Real("OUTPUT", "-1"); v && *v != -1.0) {
        calib.OutCalibValue = *v;
    }
}

void ReadVolume(const SectionReader& r, VolumeSettings& volume, const MainReadHooks& hooks)
{
    volume.GenOutVolume = IntegerOrSpecial(r, "FGVOLUME", "-1", 20, -1);
    volume.GenInVolume = IntegerOrSpecial(r, "FGINVOLUME", "-1", 100, -1);
    if (const auto v = r.Integer("INCHANNEL", "-2")) {
        volume.InChannel = *v;
    }
    if (hooks.SelectAuxInput) {
        hooks.SelectAuxInput(volume.InChannel);
    }
    // A stored pair stays in force as written; only a missing or unreadable one takes the
    // exact scale.
    volume.LevelFactor = r.Real("PEGFAK", "").value_or(kExactLevelFactor);
    volume.LevelOffset = r.Real("PEGOFS", "").value_or(kExactLevelOffset);
}

void ReadFft(const SectionReader& r, FftSettings& fft, const MainReadHooks& hooks)
{
    fft.FftComment = CutUtf8(r.Text("COMMENT", "Kommentar:"), kCommentMaxChars);

    // A window index that names no window would select nothing: it counts as unparsable.
    fft.FftWindow = IntegerOrSpecial(r, "WIN", "8", 8, -1);
    if (fft.FftWindow < 0 || fft.FftWindow >= kWindowCount) {
        fft.FftWindow = 8;
    }
    fft.FftPoints = IntegerOrSpecial(r, "SAMPLES", "1024", 1024, -1);

    // Negative counts by absolute value; the count is kept within the spin box's range
    // 1..9999, since a count of 0 would never complete an average.
    const auto average = r.Integer("AVERAGE", "1");
    if (!average || *average == -1 || *average == std::numeric_limits<std::int32_t>::min()) {
        fft.FftAverage = 1;
    } else {
        const int a = *average < 0 ? -*average : *average;
        fft.FftAverage = a < 1 ? 1 : (a > kMaxAverage ? kMaxAverage : a);
    }
    if (hooks.SetAverVal) {
        hooks.SetAverVal(fft.FftAverage);
    }

    fft.FftXMin = r.IntegerOr("DIAXMIN", "10", 10);
    fft.FftXMax = r.IntegerOr("DIAXMAX", "28000", 28000);
    fft.FftYMin = r.SingleRangeOr("DIAYMIN", "-110", -100.0);  // the diagram holds floats
    fft.FftYMax = r.SingleRangeOr("DIAYMAX", "0", 0.0);
    fft.FftYStep = r.RealOr("DIAYSTEP", "5", 5.0);
}

void ReadDiagramGeometry(const SectionReader& r, DiagramGeometry& diagram)
{
    diagram.DiagramWidth = r.IntegerOr("WIDTH", "450", 450);
    diagram.DiagramHeight = r.IntegerOr("HEIGHT", "320", 320);
    diagram.DiagramLeft = r.IntegerOr("LEFT", "0", 0);
    diagram.DiagramTop = r.IntegerOr("TOP", "0", 0);
}

void ReadSweep(const SectionReader& r, SweepSettings& sweep)
{
    sweep.SweepFrom = IntegerOrSpecial(r, "FROM", "20", 20, 0);
    sweep.SweepTo = IntegerOrSpecial(r, "TO", "20000", 20000, 0);
    // A step count outside the sweep dialog's range 1..1000 cannot be swept.
    sweep.SweepSteps = IntegerOrSpecial(r, "STEPS", "50", 50, 0);
    if (sweep.SweepSteps < kMinSweepSteps || sweep.SweepSteps > kMaxSweepSteps) {
        sweep.SweepSteps = 50;
    }
    sweep.SweepLinear = r.Text("METHODE", "LOG") != "LOG";
    sweep.SweepWithRef = r.Text("REFMESS", "Refmess") == "Refmess";
    sweep.SweepPhase = r.Boolean("PHASE", "FALSE");
    // Curve 2's reading: 0 phase, 1 THD, 2 THD+N, 3..6 H2..H5; anything else is phase.
    sweep.SweepCurve2 = IntegerOrSpecial(r, "CURVE2", "0", 0, 0);
    if (sweep.SweepCurve2 < 0 || sweep.SweepCurve2 > 6) {
        sweep.SweepCurve2 = 0;
    }
    sweep.SweepComment = CutUtf8(r.Text("COMMENT", "Kommentar:"), kCommentMaxChars);
    sweep.SweepYMin = r.SingleRangeOr("DIAYMIN", "-45", -45.0);  // the diagram holds floats
    sweep.SweepYMax = r.SingleRangeOr("DIAYMAX", "5", 5.0);
    sweep.SweepPhaseMin = r.SingleOr("PMIN", "-180", -180.0f);
    sweep.SweepPhaseMax = r.SingleOr("PMAX", "180", 180.0f);
    const float level = r.SingleOr("PEGDIG", "-1", 0.0f);
    sweep.SweepLevel = level == -1.0f ? 0.0f : level;
    sweep.SweepSettleTime = IntegerOrSpecial(r, "STARTMESS", "-1", 100, -1);
}

void ReadScope(const SectionReader& r, ScopeSettings& scope)
{
    scope.ScopeDiv1 = r.IntegerOr("DIV1", "10", 10);
    scope.ScopeDiv2 = r.IntegerOr("DIV2", "10", 10);
    scope.ScopeTimebase = r.IntegerOr("TB", "5", 5);
    scope.ScopeGnd1 = r.Boolean("GND1", "FALSE");
    scope.ScopeGnd2 = r.Boolean("GND2", "FALSE");
    scope.ScopeTrigRising = r.Boolean("TRIPOS", "TRUE");
    scope.ScopeTrigCh1 = r.Boolean("TRICH1", "TRUE");
}

void ReadSoundDevice(const SectionReader& r, const std::string& name, DeviceFormat& device,
                     std::uint32_t ownRate)
{
    const std::string stem = SoundKeyStem(name);
    device.DeviceName = name;

    int bits = device.Format.BitsPerSample;
    bool swap = device.SwapFlag != 0;
    const int stored = r.Integer(stem + "db", "16").value_or(16);
    if (stored != 0) {
        swap = stored > 1000;
        bits = swap ? stored - 1000 : stored;
        // Only 8, 16 and 24/32 bits are formats a device can run; anything else is
        // treated like an unparsable value.
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
            bits = 16;
            swap = false;
        }
    }

    std::uint32_t rate = device.Format.SamplesPerSec;
    // Nothing stored (a first start): the device's own rate where it has one.
    const std::string firstRate = std::to_string(ownRate != 0 ? ownRate : 44100u);
    const int storedRate = r.Integer(stem + "sf", firstRate).value_or(44100);
    if (storedRate != 0) {  // a negative rate counts as unparsable
        rate = storedRate < 0 ? 44100u : static_cast<std::uint32_t>(storedRate);
    }

    device.UserRate = r.Integer(stem + "usf", "55200").value_or(55200);
    SetDeviceFormat(device, bits, swap, rate);
}

void WriteSoundDevice(SectionWriter& w, const std::string& name, const DeviceFormat& device)
{
    if (name.empty()) {
        return;
    }
    const std::string stem = SoundKeyStem(name);
    const int bits = device.Format.BitsPerSample == 24 ? 32 : device.Format.BitsPerSample;
    w.Integer(stem + "db", bits + (device.SwapFlag != 0 ? 1000 : 0));
    w.Integer(stem + "sf", device.Format.SamplesPerSec);
    w.Integer(stem + "usf", device.UserRate);
}

}  // namespace

void ReadMainSections(const ProfileFile& onDisk, Settings& settings, const MainReadHooks& hooks)
{
    const ProfileFile file = onDisk.Snapshot();  // one read of the file for all its keys
    const SectionReader main(file, "MAIN", kMainBufferSize);
    ReadMain(main, settings.Main, hooks);
    ReadCalib(SectionReader(file, "EICH", kMainBufferSize), settings.Calib);
    ReadVolume(SectionReader(file, "VOLUME", kMainBufferSize), settings.Volume, hooks);
    ReadFft(SectionReader(file, "FFT", kMainBufferSize), settings.Fft, hooks);
    ReadDiagramGeometry(SectionReader(file, "DIAGRAMM", kMainBufferSize), settings.Diagram);
    settings.Main.MainLeft = main.IntegerOr("LEFT", "200", 200);
    settings.Main.MainTop = main.IntegerOr("TOP", "200", 200);
    ReadSweep(SectionReader(file, "WOB", kMainBufferSize), settings.Sweep);
    ReadScope(SectionReader(file, "OSZI", kMainBufferSize), settings.Scope);
}

int ReadOutDeviceIndex(const ProfileFile& file, int outDeviceCount)
{
    return DeviceIndex(SectionReader(file, "MAIN", kMainBufferSize), "OUTDEV", [outDeviceCount] { return outDeviceCount; });
}

void WriteMainSections(ProfileFile& file, const Settings& s)
{
    BatchScope batch(file);

    SectionWriter main(file, "MAIN");
    main.Integer("INDEV", s.Main.InDeviceIndex);
    main.Integer("OUTDEV", s.Main.OutDeviceIndex);
    main.Text("SPRACHE", std::string(1, s.Main.UiLanguage));
    main.Text("INCONAME", s.Main.InCorrectionFile);
    main.Text("OUTCONAME", s.Main.OutCorrectionFile);
    main.Boolean("INCOAKT", s.Main.InCorrActive);
    main.Boolean("OUTCOAKT", s.Main.OutCorrActive);

    SectionWriter calib(file, "EICH");
    calib.RealNotSpecial("INPUT", s.Calib.InCalibValue, 1, -1.0);  // -1 keeps the value held
    calib.RealNotSpecial("OUTPUT", s.Calib.OutCalibValue, 1, -1.0);

    SectionWriter volume(file, "VOLUME");
    volume.Integer("FGVOLUME", s.Volume.GenOutVolume);
    volume.Integer("FGINVOLUME", s.Volume.GenInVolume);
    volume.RealKept("PEGFAK", s.Volume.LevelFactor, 4);
    volume.RealKept("PEGOFS", s.Volume.LevelOffset, 4);
    volume.Integer("INCHANNEL", s.Volume.InChannel);

    SectionWriter fft(file, "FFT");
    fft.Integer("WIN", s.Fft.FftWindow);
    fft.Integer("SAMPLES", s.Fft.FftPoints);
    fft.Integer("AVERAGE", s.Fft.FftAverage);
    fft.Text("COMMENT", s.Fft.FftComment);
    fft.Real("DIAYMIN", s.Fft.FftYMin, 0);
    fft.Real("DIAYMAX", s.Fft.FftYMax, 0);
    fft.Integer("DIAXMIN", s.Fft.FftXMin);
    fft.Integer("DIAXMAX", s.Fft.FftXMax);

    SectionWriter sweep(file, "WOB");
    sweep.Integer("FROM", s.Sweep.SweepFrom);
    sweep.Integer("TO", s.Sweep.SweepTo);
    sweep.Integer("STEPS", s.Sweep.SweepSteps);
    sweep.Text("METHODE", s.Sweep.SweepLinear ? "LIN" : "LOG");
    sweep.Text("REFMESS", s.Sweep.SweepWithRef ? "Refmess" : "norefmess");
    sweep.Boolean("PHASE", s.Sweep.SweepPhase);
    sweep.Integer("CURVE2", s.Sweep.SweepCurve2);
    sweep.Text("COMMENT", s.Sweep.SweepComment);
    sweep.Real("DIAYMIN", s.Sweep.SweepYMin, 0);
    sweep.Real("DIAYMAX", s.Sweep.SweepYMax, 0);
    sweep.Real("PMIN", s.Sweep.SweepPhaseMin, 0);
    sweep.Real("PMAX", s.Sweep.SweepPhaseMax, 0);
    sweep.RealNotSpecial("PEGDIG", s.Sweep.SweepLevel, 1, -1.0f);  // -1 reads as 0 dB
    sweep.Integer("STARTMESS", s.Sweep.SweepSettleTime);

    SectionWriter scope(file, "OSZI");
    scope.Integer("DIV1", s.Scope.ScopeDiv1);
    scope.Integer("DIV2", s.Scope.ScopeDiv2);
    scope.Integer("TB", s.Scope.ScopeTimebase);
    scope.Boolean("GND1", s.Scope.ScopeGnd1);
    scope.Boolean("GND2", s.Scope.ScopeGnd2);
    scope.Boolean("TRIPOS", s.Scope.ScopeTrigRising);
    scope.Boolean("TRICH1", s.Scope.ScopeTrigCh1);

    SectionWriter diagram(file, "DIAGRAMM");
    diagram.Integer("WIDTH", s.Diagram.DiagramWidth);
    diagram.Integer("HEIGHT", s.Diagram.DiagramHeight);
    diagram.Integer("LEFT", s.Diagram.DiagramLeft);
    diagram.Integer("TOP", s.Diagram.DiagramTop);

    main.Integer("LEFT", s.Main.MainLeft);
    main.Integer("TOP", s.Main.MainTop);
}

void ReadAnalysisSection(const ProfileFile& onDisk, AnalysisSettings& a)
{
    const ProfileFile file = onDisk.Snapshot();  // one read of the file for all its keys
    const SectionReader r(file, "ANALYSE", kDialogBufferSize);
    a.ThdMeasure = r.Boolean("THDMESS", "FALSE");
    a.NoiseMeasure = r.Boolean("NOISEMESS", "FALSE");
    a.FundAuto = r.Boolean("FUNDAUTO", "TRUE");
    a.Fundamental = AbsoluteOrDefault(r, "FUNDAMENTAL", "1000", 1000);
    a.AnaFreqLow = AbsoluteOrDefault(r, "FVON", "100", 100);
    a.AnaFreqHigh = AbsoluteOrDefault(r, "FBIS", "20000", 20000);
    const auto threshold = r.Real("FUNDLOW", "0.001");
    a.FundThreshold = (!threshold || *threshold == 0.0) ? 0.001 : *threshold;
    a.AnaFilterName = r.Text("FILTER", "none");
    a.AnaFilterFile = r.Text("FILTERFILE", "");
}

void WriteAnalysisSection(ProfileFile& file, const AnalysisSettings& a)
{
    BatchScope batch(file);
    SectionWriter w(file, "ANALYSE");
    w.Boolean("THDMESS", a.ThdMeasure);
    w.Boolean("NOISEMESS", a.NoiseMeasure);
    w.Boolean("FUNDAUTO", a.FundAuto);
    w.Real("FUNDAMENTAL", a.Fundamental, 0);  // whole hertz, halves to even
    w.Integer("FVON", a.AnaFreqLow);
    w.Integer("FBIS", a.AnaFreqHigh);
    w.RealNotSpecial("FUNDLOW", a.FundThreshold, 7, 0.0);  // 0 reads as the default
    w.Text("FILTER", a.AnaFilterName);
    w.Text("FILTERFILE", a.AnaFilterFile);
}

void ReadGeneratorSection(const ProfileFile& onDisk, GeneratorSettings& g)
{
    const ProfileFile file = onDisk.Snapshot();  // one read of the file for all its keys
    const SectionReader r(file, "GEN", kDialogBufferSize);
    g.GenFrequency = r.IntegerOr("FGEN", "1000", 1000);
    g.GenPhaseL = r.IntegerOr("PHASEL", "0", 0);
    g.GenPhaseR = r.IntegerOr("PHASER", "0", 0);
    g.GenVolL = r.IntegerOr("VOLL", "0", 0);
    g.GenVolR = r.IntegerOr("VOLR", "0", 0);
    // A waveform index that names no waveform counts as unparsable.
    g.GenMode = r.IntegerOr("MODE", "0", 0);
    if (g.GenMode < 0 || g.GenMode >= kWaveformCount) {
        g.GenMode = 0;
    }
    g.GenUserFile = CutUtf8(r.Text("UFNAME", ""), kCommentMaxChars);
}

void WriteGeneratorSection(ProfileFile& file, const GeneratorSettings& g)
{
    BatchScope batch(file);
    SectionWriter w(file, "GEN");
    w.Integer("FGEN", g.GenFrequency);
    w.Integer("PHASEL", g.GenPhaseL);
    w.Integer("PHASER", g.GenPhaseR);
    w.Integer("VOLL", g.GenVolL);
    w.Integer("VOLR", g.GenVolR);
    w.Integer("MODE", g.GenMode);
    w.Text("UFNAME", g.GenUserFile);
}

std::string SoundKeyStem(std::string_view productName)
{
    std::string stem(productName);
    for (char& c : stem) {
        if (c == ' ') {
            c = '_';
        } else if (c == '[') {
            c = '(';
        } else if (c == ']') {
            c = ')';
        }
    }
    return stem;
}

void SetDeviceFormat(DeviceFormat& device, int bits, bool swap, std::uint32_t rateHz)
{
    const int container = bits == 24 ? 32 : bits;
    device.SwapFlag = swap ? 1 : 0;
    device.Format.FormatTag = 1;
    device.Format.Channels = 2;
    device.Format.ExtraSize = 0;
    device.Format.BitsPerSample = static_cast<std::uint16_t>(container);
    device.Format.SamplesPerSec = rateHz;
    device.Format.BlockAlign = static_cast<std::uint16_t>(device.Format.Channels * container / 8);
    device.Format.AvgBytesPerSec = rateHz * device.Format.BlockAlign;
}

void ReadSoundSection(const ProfileFile& onDisk, const std::array<std::string, 3>& inNames,
                      const std::array<std::string, 3>& outNames, std::array<DeviceFormat, 3>& in,
                      std::array<DeviceFormat, 3>& out, const std::array<std::uint32_t, 3>& inOwnRates,
                      const std::array<std::uint32_t, 3>& outOwnRates)
{
    const ProfileFile file = onDisk.Snapshot();  // one read of the file for all its keys
    const SectionReader r(file, "SDSOUND", kSoundBufferSize);
    for (std::size_t i = 0; i < in.size(); ++i) {
        ReadSoundDevice(r, inNames[i], in[i], inOwnRates[i]);
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        ReadSoundDevice(r, outNames[i], out[i], outOwnRates[i]);
    }
}

void WriteSoundSection(ProfileFile& file, const std::array<DeviceFormat, 3>& in,
                       const std::array<DeviceFormat, 3>& out, const std::array<std::string, 3>& inNames,
                       const std::array<std::string, 3>& outNames)
{
    BatchScope batch(file);
    SectionWriter w(file, "SDSOUND");
    for (std::size_t i = 0; i < in.size(); ++i) {
        WriteSoundDevice(w, inNames[i], in[i]);
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        WriteSoundDevice(w, outNames[i], out[i]);
    }
}

void ReadDiagramOptions(const ProfileFile& onDisk, DiagramOptions& o)
{
    const ProfileFile file = onDisk.Snapshot();  // one read of the file for all its keys
    const SectionReader r(file, "DIAGPRIV", kMainBufferSize);
    o.Separator = r.Text("SEPARATOR", ",");
    o.ColCur = ColourOr(r, "COLCUR", 0x000000);
    o.ColDia = ColourOr(r, "COLDIA", 16776960);    // cyan
    o.ColGrid = ColourOr(r, "COLGRID", 65535);     // yellow
    o.ColLine1 = ColourOr(r, "COLLINE1", 255);     // red
    o.ColLine2 = ColourOr(r, "COLLINE2", 16711680);  // blue
    o.ColMargin = ColourOr(r, "COLMARGIN", 12632256);  // light grey
    o.ColText = ColourOr(r, "COLTEXT", 0x000000);
    o.XLog = r.Boolean("XLOG", "TRUE") ? 1 : 0;
    o.YStepAuto = r.Boolean("YSTEPAUTO", "TRUE") ? 1 : 0;
    const float step = r.SingleOr("YDIASTEPS", "5", 5.0f);
    o.YStep = step == 0.0f ? 5.0f : step;
    const char* const smoothKeys[2] = {"SMOOTHFFT", "SMOOTHWOB"};
    for (std::size_t page = 0; page < 2; ++page) {
        const int n = r.IntegerOr(smoothKeys[page], "0", 0);
        const bool offered =
            std::find(kSmoothingFractions.begin(), kSmoothingFractions.end(), n) != kSmoothingFractions.end();
        o.Smoothing[page] = offered ? static_cast<std::uint8_t>(n) : 0;
    }
}

void WriteDiagramOptions(ProfileFile& file, const DiagramOptions& o)
{
    BatchScope batch(file);
    SectionWriter w(file, "DIAGPRIV");
    w.Text("SEPARATOR", o.Separator);
    // Colours go out as signed 32-bit integers, the range the reader accepts.
    w.Integer("COLCUR", static_cast<std::int32_t>(o.ColCur));
    w.Integer("COLDIA", static_cast<std::int32_t>(o.ColDia));
    w.Integer("COLGRID", static_cast<std::int32_t>(o.ColGrid));
    w.Integer("COLLINE1", static_cast<std::int32_t>(o.ColLine1));
    w.Integer("COLLINE2", static_cast<std::int32_t>(o.ColLine2));
    w.Integer("COLMARGIN", static_cast<std::int32_t>(o.ColMargin));
    w.Integer("COLTEXT", static_cast<std::int32_t>(o.ColText));
    w.Boolean("XLOG", o.XLog != 0);
    w.Boolean("YSTEPAUTO", o.YStepAuto != 0);
    w.RealNotSpecial("YDIASTEPS", o.YStep, 1, 0.0f);  // 0 reads as the default step
    w.Integer("SMOOTHFFT", o.Smoothing[0]);
    w.Integer("SMOOTHWOB", o.Smoothing[1]);
}

namespace {

constexpr std::pair<LogSweepCurve, std::string_view> kLogSweepCurveNames[] = {
    {LogSweepCurve::Phase, "PHASE"}, {LogSweepCurve::Thd, "THD"}, {LogSweepCurve::H2, "H2"},
    {LogSweepCurve::H3, "H3"},       {LogSweepCurve::H4, "H4"},   {LogSweepCurve::H5, "H5"},
    {LogSweepCurve::LeftLevel, "LEFT"},
};

}  // namespace

std::string_view LogSweepCurveName(LogSweepCurve curve)
{
    for (const auto& [c, name] : kLogSweepCurveNames) {
        if (c == curve) {
            return name;
        }
    }
    return "PHASE";
}

std::optional<LogSweepCurve> LogSweepCurveFromName(std::string_view name)
{
    for (const auto& [c, word] : kLogSweepCurveNames) {
        if (word.size() == name.size() &&
            std::equal(word.begin(), word.end(), name.begin(), [](char a, char b) {
                return a == (b >= 'a' && b <= 'z' ? static_cast<char>(b - 'a' + 'A') : b);
            })) {
            return c;
        }
    }
    return std::nullopt;
}

void ReadLogSweepSection(const ProfileFile& file, LogSweepSettings& l)
{
    const LogSweepSettings defaults;
    const SectionReader r(file, "LOGSWEEP", kDialogBufferSize);
    const auto within = [&](std::string_view key, double lo, double hi, double fallback) {
        const auto v = r.Real(key, "");
        return v && *v >= lo && *v <= hi ? *v : fallback;
    };
    l.LogSweepFrom = within("FROM", 1.0, 1e6, defaults.LogSweepFrom);
    l.LogSweepTo = within("TO", 1.0, 1e6, defaults.LogSweepTo);
    if (!(l.LogSweepFrom < l.LogSweepTo)) {
        l.LogSweepFrom = defaults.LogSweepFrom;
        l.LogSweepTo = defaults.LogSweepTo;
    }
    l.LogSweepSeconds = within("SECONDS", 0.5, 60.0, defaults.LogSweepSeconds);
    l.LogSweepLevel = within("LEVEL", -200.0, 0.0, defaults.LogSweepLevel);
    const std::string mode = r.Text("MODE", "REF");
    l.LogSweepWithRef = mode != "STEREO" && mode != "stereo";
    l.LogSweepCurve2 = LogSweepCurveFromName(r.Text("CURVE2", "PHASE")).value_or(defaults.LogSweepCurve2);
    const int points = r.IntegerOr("POINTS", "48", defaults.LogSweepPointsPerOctave);
    l.LogSweepPointsPerOctave = points >= 1 && points <= 200 ? points : defaults.LogSweepPointsPerOctave;
}

std::string ReadSweepLimitsFile(const ProfileFile& file)
{
    constexpr std::size_t kPathBufferSize = 4097;  // a whole path, never cut
    return SectionReader(file, "LIMITS", kPathBufferSize).Text("SWEEP", "");
}

void WriteSweepLimitsFile(ProfileFile& file, const std::string& path)
{
    SectionWriter(file, "LIMITS").Text("SWEEP", path);
}

void WriteLogSweepSection(ProfileFile& file, const LogSweepSettings& l)
{
    // Reals in their shortest form: they read back as written, so a pair such as FROM
    // and TO never collapses into one value.
    const auto shortest = [](double v) {
        char buf[64];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
        return ec == std::errc() ? std::string(buf, end) : FormatReal(v, 0);
    };
    BatchScope batch(file);
    SectionWriter w(file, "LOGSWEEP");
    w.Text("FROM", shortest(l.LogSweepFrom));
    w.Text("TO", shortest(l.LogSweepTo));
    w.Text("SECONDS", shortest(l.LogSweepSeconds));
    w.Text("LEVEL", shortest(l.LogSweepLevel));
    w.Text("MODE", l.LogSweepWithRef ? "REF" : "STEREO");
    w.Text("CURVE2", LogSweepCurveName(l.LogSweepCurve2));
    w.Integer("POINTS", l.LogSweepPointsPerOctave);
}

}  // namespace sonvera
