#include "measure/spectrumrun.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <span>

#include "config/numberformat.h"
#include "dsp/window.h"
#include "engine/soundengine.h"
#include "measure/prompt.h"

namespace sonvera {

namespace {

const SpectrumTexts kGermanTexts{" LI ",
                                 " RE ",
                                 " keine Grundwelle ",
                                 "Probleme beim Sample (",
                                 "Probleme beim Beginn Samplen (",
                                 "Band schmaler als Notch",
                                 "Auflösung zu grob",
                                 " | ",
                                 " Blöcke mit Lücken verworfen"};
const SpectrumTexts kEnglishTexts{" le ",
                                  " ri ",
                                  " no fundamental ",
                                  "Problems at Start Sampling (",
                                  "Problems at Open Sampling (",
                                  "band narrower than notch",
                                  "resolution too coarse",
                                  " | ",
                                  " blocks with gaps dropped"};

std::string Cut(std::string text, std::size_t maxChars)
{
    if (text.size() > maxChars) {
        text.resize(maxChars);
    }
    return text;
}

}  // namespace

const SpectrumTexts* SpectrumTextsFor(char language)
{
    if (language == 'D') {
        return &kGermanTexts;
    }
    if (language == 'E') {
        return &kEnglishTexts;
    }
    return nullptr;
}

SpectrumRun::SpectrumRun(SoundEngine& engine, Settings& settings, SpectrumDiagram& diagram,
                         SpectrumPageView& view, WeightingFilter& filter, CorrectionCurve& inCorrection)
    : engine_(engine),
      settings_(settings),
      diagram_(diagram),
      view_(view),
      filter_(filter),
      inCorrection_(inCorrection),
      texts_(&kGermanTexts)
{
}

void SpectrumRun::SetLanguage(char language)
{
    if (const SpectrumTexts* t = SpectrumTextsFor(language)) {
        texts_ = t;
    }
}

int SpectrumRun::PointsForItem(int index)
{
    if (index < 0 || index >= kPointsItemCount) {
        return 1024;
    }
    return kMinSpectrumSize << index;
}

int SpectrumRun::ItemForPoints(int points)
{
    for (int index = 0; index < kPointsItemCount; ++index) {
        if (PointsForItem(index) == points) {
            return index;
        }
    }
    return -1;
}

bool SpectrumRun::SizeArrays(int points)
{
    // Room for one block of the size (at least the arrays' first size), sums for its bins.
    const auto values = static_cast<std::size_t>(std::max(points, kArrayValues));
    const auto bins = static_cast<std::size_t>(std::max(points / 2, kArrayValues));
    try {
        for (std::vector<float>* a : {&SpectrumLeft, &SpectrumRight, &WeightedLeft, &WeightedRight}) {
            a->assign(values, 0.0f);
        }
        for (std::vector<double>* a : {&SumLeft, &SumRight, &WeightedSumLeft, &WeightedSumRight}) {
            a->assign(bins, 0.0);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

double SpectrumRun::BlockSeconds() const
{
    return Running ? engine_.CaptureSeconds() : 0.0;
}

double SpectrumRun::BlockSecondsRecorded() const
{
    return Running ? engine_.CaptureSecondsRecorded() : 0.0;
}

int SpectrumRun::InputRate() const
{
    int in = 0, out = 0;
    engine_.GetSampleRates(in, out);
    return in;
}

int SpectrumRun::InputBits() const
{
    int in = 0, out = 0;
    engine_.GetFormatBits(in, out);
    return in == 32 ? 24 : in;  // 24-bit samples travel in 32-bit containers
}

void SpectrumRun::RefreshInputLabels()
{
    view_.SetInputFormatLabels(std::to_string(InputBits()) + " Bits", std::to_string(InputRate()) + " Hz");
}

void SpectrumRun::EnterSpectrumPage()
{
    FftSettings& fft = settings_.Fft;
    if (ItemForPoints(fft.FftPoints) < 0) {
        fft.FftPoints = 1024;
    }
    if (!SizeArrays(fft.FftPoints)) {
        Prompts().Show(Prompt{PromptKind::Error, "Memory Error ( <256k )", false, 0});
        view_.CloseMainWindow();
        return;
    }

    Running = false;
    view_.SelectRunMode(1);
    RunMode = 1;
    view_.SelectFftWindow(fft.FftWindow);
    view_.SelectFftPointsItem(ItemForPoints(fft.FftPoints));

    RefreshInputLabels();

    view_.SetAnalyseMenuEnabled(true);
    view_.ShowInputLevel(settings_.Volume.GenInVolume);
    transform_.BuildWindowTable(fft.FftWindow, fft.FftPoints);

    if (!(fft.FftYMax > fft.FftYMin)) {
        fft.FftYMax = 0.0;
        fft.FftYMin = -110.0;
    }
    if (fft.FftXMin >= fft.FftXMax) {
        fft.FftXMax = 28000;
        fft.FftXMin = 10;
    }

    view_.SetAnalysisChecks(settings_.Analysis.ThdMeasure, settings_.Analysis.NoiseMeasure);
    view_.SetChannelChecks(true, true);
    RightOn = LeftOn = true;

    float levelMin = static_cast<float>(fft.FftYMin);
    float levelMax = static_cast<float>(fft.FftYMax);
    diagram_.PrepareDiagram(fft.FftComment, fft.FftPoints / 2 + 1, fft.FftXMin, fft.FftXMax, levelMin,
                            levelMax);
    diagram_.SetLevelRange(static_cast<float>(fft.FftYMax), static_cast<float>(fft.FftYMin));
    diagram_.Show(true);
    SpectrumPageActive = true;
}

void SpectrumRun::LeaveSpectrumPage()
{
    FftSettings& fft = settings_.Fft;
    if (SpectrumPageActive) {
        // What was typed as the comment after the last run stays with the page.
        fft.FftComment = Cut(diagram_.GetComment(), kLineMaxChars);
        int fmin = 0, fmax = 0;
        diagram_.GetFreqRange(fmin, fmax);
        fft.FftXMin = fmin;
        fft.FftXMax = fmax;
        float lmin = 0, lmax = 0;
        diagram_.GetLevelRange(lmin, lmax);
        fft.FftYMin = lmin;
        fft.FftYMax = lmax;
        diagram_.ResetDiagramScales();
    }
    // Released, not just emptied: the arrays exist only while the page is current.
    std::vector<float>().swap(SpectrumLeft);
    std::vector<float>().swap(SpectrumRight);
    std::vector<double>().swap(SumLeft);
    std::vector<double>().swap(SumRight);
    std::vector<float>().swap(WeightedLeft);
    std::vector<float>().swap(WeightedRight);
    std::vector<double>().swap(WeightedSumLeft);
    std::vector<double>().swap(WeightedSumRight);
    weightedBlocks_ = 0;
    SpectrumPageActive = false;
    if (Running) {
        engine_.CancelCapture();  // the next page must not inherit a long block
        view_.ReportRun({Measurement::Spectrum, RunEvent::Stopped});
    }
    SetRunning(false);
    diagram_.Show(false);
}

void SpectrumRun::SetRunning(bool flag)
{
    view_.SetRunLockedControlsEnabled(!flag);
    Running = flag;
    view_.ShowAverVal(settings_.Fft.FftAverage);
    AverageRemaining = settings_.Fft.FftAverage;
}

void SpectrumRun::DeviceErrorBox(const std::string& prefix, int code)
{
    ShowErrorPrompt(prefix + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) + ")",
                    kDeviceErrorHelpContext);
}

void SpectrumRun::ReportDeviceError(int code)
{
    RunReport report{Measurement::Spectrum, RunEvent::DeviceError};
    report.detail = engine_.DeviceErrorText(static_cast<std::uint32_t>(code));
    view_.ReportRun(report);
}

void SpectrumRun::StartButtonClick()
{
    FftSettings& fft = settings_.Fft;
    fft.FftComment = Cut(diagram_.GetComment(), kLineMaxChars);
    const int typed = view_.AverVal();
    if (typed >= 1 && typed <= 9999) {
        fft.FftAverage = typed;
    }
    if (engine_.CaptureFormats() == 0 || Running) {
        RunReport refused{Measurement::Spectrum, RunEvent::Refused};
        refused.control = "START";
        refused.refusal = Running ? Refusal::AlreadyRunning : Refusal::NoInputDevice;
        view_.ReportRun(refused);
        return;
    }
    // The arrays exist only while the page is current; a start from elsewhere has
    // nothing to analyse into.
    if (!SpectrumPageActive) {
        return;
    }
    const int half = InputRate() / 2;
    int step = (half / fft.FftPoints) & ~1;
    if (step == 0) {
        step = 1;
    }
    float levelMin = static_cast<float>(fft.FftYMin);
    float levelMax = static_cast<float>(fft.FftYMax);
    if (diagram_.PrepareDiagram(fft.FftComment, fft.FftPoints / 2, step, half, levelMin, levelMax)) {
        SetRunning(false);
        ShowWarningPrompt("Diagram Error");
        return;
    }
    fft.FftYMin = levelMin;
    fft.FftYMax = levelMax;
    view_.SetInputLevel(settings_.Volume.GenInVolume);
    engine_.ResetDroppedBlocks();
    const int code = engine_.StartCapture(fft.FftPoints, 0, [this] { SpectrumBlockDone(); });
    if (code != 0) {
        SetRunning(false);
        ReportDeviceError(code);
        DeviceErrorBox(texts_->startFailure, code);
        return;
    }
    view_.SetBinpoptEnabled(false);
    SetRunning(true);
    view_.ReportRun({Measurement::Spectrum, RunEvent::Running});
}

void SpectrumRun::StopButtonClick()
{
    settings_.Fft.FftComment = Cut(diagram_.GetComment(), kLineMaxChars);
    if (Running) {
        // A long block would keep the device for seconds: it ends now, unanalysed.
        engine_.CancelCapture();
        view_.ReportRun({Measurement::Spectrum, RunEvent::Stopped});
    }
    SetRunning(false);
    view_.SetBinpoptEnabled(true);
}

void SpectrumRun::SpectrumNext()
{
    const int code = engine_.StartCapture(settings_.Fft.FftPoints, 0, [this] { SpectrumBlockDone(); });
    if (code != 0) {
        SetRunning(false);
        view_.SetBinpoptEnabled(true);
        ReportDeviceError(code);
        DeviceErrorBox(texts_->openFailure, code);
    }
    settings_.Fft.FftComment = Cut(diagram_.GetComment(), kLineMaxChars);
}

void SpectrumRun::ApplyAnalysisSettings(AnalysisParams& params) const
{
    const AnalysisSettings& a = settings_.Analysis;
    params.FundAuto = a.FundAuto;
    params.Fundamental = a.Fundamental;
    params.AnaFreqLow = a.AnaFreqLow;
    params.AnaFreqHigh = a.AnaFreqHigh;
    params.FundThreshold = a.FundThreshold;
    params.AnaSampleRate = InputRate();
    params.AnaFftSize = settings_.Fft.FftPoints;
    params.AnaWindow = std::max(transform_.WindowTableIndex(), 0);
}

std::string SpectrumRun::DroppedText(const SpectrumTexts& t, int dropped)
{
    return dropped > 0 ? t.droppedLead + std::to_string(dropped) + t.droppedTail : std::string();
}

void SpectrumRun::ComposeResultLines()
{
    const auto half = static_cast<std::size_t>(settings_.Fft.FftPoints / 2);
    // The weighted spectra count where a standard weighting filtered the samples.
    const bool filtered = sampleWeighting_.Designed() && weightedWith_ == sampleWeighting_.Weighting();
    const ChannelSpectrum left(std::span<const float>(SpectrumLeft.data(), half),
                               filtered ? std::span<const float>(WeightedLeft.data(), half) : std::span<const float>());
    const ChannelSpectrum right(std::span<const float>(SpectrumRight.data(), half),
                                filtered ? std::span<const float>(WeightedRight.data(), half) : std::span<const float>());
    AnalysisSettings& a = settings_.Analysis;
    AnalysisParams params;
    ApplyAnalysisSettings(params);
    const WeightingFilter& weighting = filter_;
    // Each line is measured once and written in both languages, so that it follows a
    // switch of the language while it is shown.
    const auto show = [&](const auto& line) {
        diagram_.SetResultLines({Cut(line(kGermanTexts), kLineMaxChars), Cut(line(kEnglishTexts), kLineMaxChars)},
                                texts_ == &kEnglishTexts ? 'E' : 'D');
    };

    if (a.NoiseMeasure) {
        bool coarseLeft = false, coarseRight = false;
        const double vl = MeasureLevel(left, params, weighting, &coarseLeft);
        const double vr = MeasureLevel(right, params, weighting, &coarseRight);
        const int dropped = engine_.DroppedBlocks();
        auto level = [](double v, bool tooCoarse, const SpectrumTexts& t) {
            return tooCoarse ? t.resolutionTooCoarse : FormatFixed(v, 2) + "dB";
        };
        show([&](const SpectrumTexts& t) {
            return "Level: " + t.leftLabel + level(vl, coarseLeft, t) + t.rightLabel + level(vr, coarseRight, t) +
                   "   Filter: " + filter_.AnaFilterName + DroppedText(t, dropped);
        });
    }
    if (a.ThdMeasure) {
        struct Part {
            double fundamental;
            double thd;
            ThdNCase kind;
        };
        auto measure = [&](const ChannelSpectrum& spectrum) {
            ThdNCase kind = ThdNCase::Ratio;
            const double t = MeasureThdN(spectrum, params, weighting, &kind);
            a.Fundamental = params.Fundamental;
            return Part{params.Fundamental, t, kind};
        };
        auto text = [](const Part& p, const SpectrumTexts& t) {
            // A band the notch covers whole, or a fundamental the bins cannot separate from
            // 0 Hz or its second harmonic, measured nothing: no level to show.
            std::string tText = FormatFixed(p.thd, 1) + "dB";
            if (p.kind == ThdNCase::NotchCoversBand) {
                tText = t.bandInNotch;
            } else if (p.kind == ThdNCase::ResolutionTooCoarse) {
                tText = t.resolutionTooCoarse;
            }
            if (p.fundamental != 0.0) {
                return FormatFixed(p.fundamental, 0) + "Hz " + tText;
            }
            return p.kind == ThdNCase::ResolutionTooCoarse ? tText : t.noFundamental;
        };
        const Part leftPart = measure(left);
        const Part rightPart = measure(right);
        const int dropped = engine_.DroppedBlocks();
        show([&](const SpectrumTexts& t) {
            return "THD+N: " + t.leftLabel + text(leftPart, t) + " | " + t.rightLabel + text(rightPart, t) +
                   " |   Filter: " + filter_.AnaFilterName + DroppedText(t, dropped);
        });
    }
    if (RunMode == 2) {
        const double A = MeasureLevel(left, params, weighting);
        const double B = MeasureLevel(right, params, weighting);
        currentLevel_ = (A != 0.0 && B != 0.0) ? (A + B) * 0.5 : -192.0;
        triggerLevel_ = 20.0 * std::log10(a.FundThreshold);
        show([&](const SpectrumTexts&) {
            return "act. level " + FormatFixed(currentLevel_, 2) + "dB    trigg level " + FormatFixed(triggerLevel_, 1) +
                   "dB";
        });
    }
}

void SpectrumRun::StoreSpectrum()
{
    const FftSettings& fft = settings_.Fft;
    const VolumeSettings& vol = settings_.Volume;
    const int half = fft.FftPoints / 2;
    const int H = InputRate() / 2;
    bool refused = false;
    for (int i = 0; i < half; ++i) {
        const float f = static_cast<float>(i) / static_cast<float>(half) * static_cast<float>(H);
        auto level = [&](bool on, float m) -> float {
            if (!on || m == 0.0f) {
                return -192.0f;
            }
            const double db = vol.LevelFactor * std::log(static_cast<double>(m)) + vol.LevelOffset;
            return static_cast<float>(ApplyCurve(inCorrection_, 1.0, f, db));
        };
        const float values[2] = {level(LeftOn, SpectrumLeft[static_cast<std::size_t>(i)]),
                                 level(RightOn, SpectrumRight[static_cast<std::size_t>(i)])};
        if (diagram_.StoreDiagramPoint(values, 2, i, f)) {
            refused = true;
            break;
        }
    }
    diagram_.Repaint();
    if (refused) {
        SetRunning(false);
        ShowWarningPrompt("Diagram error");
    }
}

void SpectrumRun::TakeChannel(const float* block, int frames, int offset, std::vector<float>& spectrum,
                              std::vector<float>& weighted)
{
    // The transform needs the size it was set up for; a short block is padded with 0.
    const int n = settings_.Fft.FftPoints;
    std::fill(spectrum.begin(), spectrum.begin() + std::max(n, frames), 0.0f);
    for (int i = 0; i < frames; ++i) {
        spectrum[static_cast<std::size_t>(i)] = block[2 * i + offset];
    }
    if (sampleWeighting_.Designed()) {
        const auto size = static_cast<std::size_t>(n);
        std::copy_n(spectrum.begin(), size, weighted.begin());
        sampleWeighting_.Apply(std::span<const float>(weighted.data(), size), std::span<float>(weighted.data(), size));
        transform_.ComputeSpectrum(weighted.data(), n);
    }
    transform_.ComputeSpectrum(spectrum.data(), n);
}

void SpectrumRun::AddToAverage()
{
    // Power averaging: the mean of the squared magnitudes per bin, shown as its root, so
    // noise keeps its level and a steady tone reads as one block.
    const FftSettings& fft = settings_.Fft;
    --AverageRemaining;
    if (fft.FftAverage == 1) {
        return;
    }
    view_.ShowAverVal(AverageRemaining);
    const auto half = static_cast<std::size_t>(fft.FftPoints / 2);
    auto add = [half](std::vector<double>& sum, const std::vector<float>& spectrum) {
        for (std::size_t k = 0; k < half; ++k) {
            const double m = spectrum[k];
            sum[k] += m * m;
        }
    };
    auto take = [half](std::vector<float>& spectrum, std::vector<double>& sum, int count) {
        for (std::size_t k = 0; k < half; ++k) {
            spectrum[k] = static_cast<float>(std::sqrt(sum[k] / count));
            sum[k] = 0.0;
        }
    };
    add(SumRight, SpectrumRight);
    add(SumLeft, SpectrumLeft);
    if (sampleWeighting_.Designed()) {
        add(WeightedSumRight, WeightedRight);
        add(WeightedSumLeft, WeightedLeft);
        ++weightedBlocks_;
    }
    if (AverageRemaining == 0) {
        take(SpectrumRight, SumRight, fft.FftAverage);
        take(SpectrumLeft, SumLeft, fft.FftAverage);
        if (weightedBlocks_ > 0) {
            take(WeightedRight, WeightedSumRight, weightedBlocks_);
            take(WeightedLeft, WeightedSumLeft, weightedBlocks_);
        }
        weightedBlocks_ = 0;
    }
}

void SpectrumRun::SpectrumBlockDone()
{
    FftSettings& fft = settings_.Fft;
    int valueCount = 0, overloads = 0;
    std::uint32_t user = 0;
    const float* block = engine_.TakeCapturedBlock(valueCount, overloads, user);

    // A block recorded with another size than the arrays were built for (the page was
    // left and entered again meanwhile) is not analysed.
    const bool usable = block != nullptr && Running && SpectrumPageActive && valueCount >= 2 &&
                        static_cast<std::size_t>(valueCount / 2) <= SpectrumLeft.size();
    if (usable) {
        ++blocksTaken_;
        view_.SetOverloadLabel(overloads != 0 ? "Over " + std::to_string(overloads) : std::string("."));

        const int frames = valueCount / 2;
        const StandardWeighting standard = filter_.Standard();
        if (standard != sampleWeighting_.Weighting() || sampleWeighting_.RateHz() != InputRate()) {
            sampleWeighting_.Design(standard, InputRate());
        }
        if (standard != weightedWith_) {
            // The weighting changed: the weighted sums collected so far belong to another.
            weightedWith_ = standard;
            weightedBlocks_ = 0;
            std::fill(WeightedSumLeft.begin(), WeightedSumLeft.end(), 0.0);
            std::fill(WeightedSumRight.begin(), WeightedSumRight.end(), 0.0);
        }
        if (LeftOn) {
            TakeChannel(block, frames, 1, SpectrumLeft, WeightedLeft);
        }
        if (RightOn) {
            TakeChannel(block, frames, 0, SpectrumRight, WeightedRight);
        }
        AddToAverage();

        if (AverageRemaining == 0) {
            AverageRemaining = fft.FftAverage;
            view_.ShowAverVal(fft.FftAverage);
            ComposeResultLines();
            diagram_.SetCurvesShown(LeftOn, RightOn);
            diagram_.SetAxesShown(true, false);
            ++resultsShown_;
            if (Running) {
                StoreSpectrum();
            }
            if (ResultTaken) {
                ResultTaken();
            }
        }
    }

    // Continuation.
    const int error = engine_.EngineError();
    if (RunMode == 2 && error == 0 && Running) {
        if (currentLevel_ < triggerLevel_) {
            view_.PostSpectrumNext();
        } else {
            SetRunning(false);
            view_.SetBinpoptEnabled(true);
            view_.ReportRun({Measurement::Spectrum, RunEvent::TriggerReached});
        }
    } else if (RunMode == 1 && error == 0 && Running) {
        view_.PostSpectrumNext();
    } else if ((RunMode == 0 && Running) || error != 0) {
        if (AverageRemaining == fft.FftAverage) {
            const bool wasRunning = Running;
            SetRunning(false);
            view_.SetBinpoptEnabled(true);
            if (wasRunning && error != 0) {
                ReportDeviceError(error);
            } else if (wasRunning) {
                view_.ReportRun({Measurement::Spectrum, RunEvent::Finished});
            }
        } else {
            view_.PostSpectrumNext();
        }
    }
}

void SpectrumRun::RunningGroupClick(int index)
{
    diagram_.SetResultLine("");
    RunMode = index;
    if (index == 2) {
        settings_.Fft.FftAverage = 1;
        view_.ShowAverVal(1);
    }
}

void SpectrumRun::FFTpointsgroupClick(int index)
{
    const int points = PointsForItem(index);
    // The page's arrays follow the size (while the page is current; entering sizes them).
    if (SpectrumPageActive && points != settings_.Fft.FftPoints && !SizeArrays(points)) {
        SizeArrays(settings_.Fft.FftPoints);
        ShowWarningPrompt("Memory Error");
        view_.SelectFftPointsItem(ItemForPoints(settings_.Fft.FftPoints));
        return;
    }
    settings_.Fft.FftPoints = points;
    diagram_.ClearDiagramData();
    transform_.BuildWindowTable(settings_.Fft.FftWindow, settings_.Fft.FftPoints);
    std::fill(SumLeft.begin(), SumLeft.end(), 0.0);
    std::fill(SumRight.begin(), SumRight.end(), 0.0);
    std::fill(WeightedSumLeft.begin(), WeightedSumLeft.end(), 0.0);
    std::fill(WeightedSumRight.begin(), WeightedSumRight.end(), 0.0);
    weightedBlocks_ = 0;
}

void SpectrumRun::FFTwinGroupClick(int index)
{
    if (index < 0 || index > 8) {
        return;
    }
    settings_.Fft.FftWindow = index;
    transform_.BuildWindowTable(index, settings_.Fft.FftPoints);
}

}  // namespace sonvera
