#include "measure/scoperun.h"

#include <algorithm>

#include "engine/soundengine.h"
#include "measure/prompt.h"

namespace sonvera {

const std::array<ScopeTableEntry, 14> VoltsPerDivTable = {{
    {0.0001f, "100\u00b5V"},
    {0.0002f, "200\u00b5V"},
    {0.0005f, "500\u00b5V"},
    {0.001f, "1mV"},
    {0.002f, "2mV"},
    {0.005f, "5mV"},
    {0.01f, "10mV"},
    {0.02f, "20mV"},
    {0.05f, "50mV"},
    {0.1f, "100mV"},
    {0.2f, "200mV"},
    {0.5f, "500mV"},
    {1.0f, "1V"},
    {2.0f, "2V"},
}};

const std::array<ScopeTableEntry, 11> TimebaseTable = {{
    {0.00005f, "50\u00b5s"},
    {0.0001f, "100\u00b5s"},
    {0.0002f, "200\u00b5s"},
    {0.0005f, "500\u00b5s"},
    {0.001f, "1ms"},
    {0.002f, "2ms"},
    {0.005f, "5ms"},
    {0.01f, "10ms"},
    {0.02f, "20ms"},
    {0.05f, "50ms"},
    {0.1f, "100ms"},
}};

namespace {

// The buttons' limits.
constexpr int kDivMin = 1;
constexpr int kDivMax = 14;
constexpr int kTimebaseMin = 1;
constexpr int kTimebaseMax = 8;

// Frames recorded and shown when the page opens, before the time base is applied.
constexpr int kEntryFrames = 1024;
constexpr int kEntryRateHz = 44100;

// Volts per unit of a converted sample for each millivolt of calibration.
constexpr float kCalibToScale = 0.0015f;

// Help page of the device error box.
constexpr int kDeviceErrorHelpContext = 17;

// Band above the trigger level within which a sample counts as the crossing (divisions).
constexpr float kTriggerBand = 0.1f;

template <std::size_t N>
const ScopeTableEntry& Entry(const std::array<ScopeTableEntry, N>& table, int index)
{
    const int i = std::clamp(index, 1, static_cast<int>(N));
    return table[static_cast<std::size_t>(i - 1)];
}

}  // namespace

const ScopeTableEntry& VoltsPerDiv(int index)
{
    return Entry(VoltsPerDivTable, index);
}

const ScopeTableEntry& Timebase(int index)
{
    return Entry(TimebaseTable, index);
}

ScopeCapturePlan CapturePlanFor(float secondsPerDiv)
{
    // Tested in this order; the last matching line wins.
    const float t = secondsPerDiv;
    ScopeCapturePlan plan{8000, 2448};
    if (t < 0.0198f) {
        plan = {11025, 2448};
    }
    if (t < 0.0098f) {
        plan = {11025, 1300};
    }
    if (t < 0.0048f) {
        plan = {22050, 1024};
    }
    if (t < 0.00198f) {
        plan = {44100, 1024};
    }
    return plan;
}

ScopeRun::ScopeRun(SoundEngine& engine, Settings& settings, ScopeDisplay& display,
                   ScopePageControls& controls)
    : engine_(engine), settings_(settings), display_(display), controls_(controls)
{
}

void ScopeRun::EnterScopePage()
{
    controls_.ShowScopeView(true);
    scale_ = static_cast<float>(settings_.Calib.InCalibValue) * kCalibToScale;
    frames_ = kEntryFrames;
    int inRate = 0, outRate = 0;
    engine_.GetSampleRates(inRate, outRate);
    engine_.SetSampleRates(kEntryRateHz, outRate);
    samplePeriod_ = 1.0f / static_cast<float>(kEntryRateHz);
    running_ = true;

    controls_.SetScopeMenusEnabled(false, true);

    controls_.SetPositionSliders(-10, 10);
    SCRyposCh1Scroll(-10);
    SCRyposch2Scroll(10);

    const ScopeSettings& s = settings_.Scope;
    controls_.SetTimebaseCaption(Timebase(s.ScopeTimebase).caption);
    controls_.SetVoltsPerDivCaption(1, VoltsPerDiv(s.ScopeDiv1).caption);
    controls_.SetVoltsPerDivCaption(2, VoltsPerDiv(s.ScopeDiv2).caption);
    controls_.SetScopeChecks(s.ScopeGnd1, s.ScopeGnd2, s.ScopeTrigRising, s.ScopeTrigCh1);

    // The time axis must match the rate and block of the shown time base from the first
    // block on, also on a later visit with an unchanged time base: apply it afresh.
    appliedTimebase_ = 999;
    ApplyTimebase();

    if (engine_.CaptureFormats() != 0) {
        controls_.PostScopeNext();
        controls_.ReportRun({Measurement::Scope, RunEvent::Running});
    } else {
        RunReport refused{Measurement::Scope, RunEvent::Refused};
        refused.refusal = Refusal::NoInputDevice;
        controls_.ReportRun(refused);
    }
}

void ScopeRun::LeaveScopePage()
{
    controls_.SetScopeMenusEnabled(true, false);
    controls_.ShowScopeView(false);
    if (running_) {
        controls_.ReportRun({Measurement::Scope, RunEvent::Stopped});
    }
    running_ = false;
}

void ScopeRun::ReportDeviceError(int code)
{
    RunReport report{Measurement::Scope, RunEvent::DeviceError};
    report.detail = engine_.DeviceErrorText(static_cast<std::uint32_t>(code));
    controls_.ReportRun(report);
}

void ScopeRun::StopOrun()
{
    running_ = false;
}

void ScopeRun::StartOrun()
{
    if (controls_.ScopePageCurrent()) {
        running_ = true;
        controls_.PostScopeNext();
    }
}

void ScopeRun::PrepareView()
{
    const float t = Timebase(settings_.Scope.ScopeTimebase).value;
    display_.PrepareScope("", frames_ / 2, false, 0.0f, 10.0f * t, 0.0f, 8.0f);
}

void ScopeRun::ApplyTimebase()
{
    const int tb = settings_.Scope.ScopeTimebase;
    if (tb == appliedTimebase_) {
        return;
    }
    const ScopeTableEntry& entry = Timebase(tb);
    controls_.SetTimebaseCaption(entry.caption);
    const ScopeCapturePlan plan = CapturePlanFor(entry.value);
    frames_ = plan.frames;
    int inRate = 0, outRate = 0;
    engine_.GetSampleRates(inRate, outRate);
    engine_.SetSampleRates(plan.rateHz, outRate);
    samplePeriod_ = 1.0f / static_cast<float>(plan.rateHz);
    PrepareView();
    appliedTimebase_ = tb;
}

std::string ScopeRun::ErrorLead() const
{
    return settings_.Main.UiLanguage == 'E' ? "Problems at Open Sampling (" : "Probleme beim Beginn Samplen (";
}

void ScopeRun::OnScopeNext()
{
    ApplyTimebase();
    if (!running_) {
        return;
    }
    const int r = engine_.StartCapture(frames_, 0, [this] { ScopeBlockDone(); });
    if (r != 0) {
        running_ = false;
        ReportDeviceError(r);
        ShowErrorPrompt(ErrorLead() + engine_.DeviceErrorText(static_cast<std::uint32_t>(r)) + ")",
                        kDeviceErrorHelpContext);
    }
}

int ScopeRun::FindTrigger(const float* values, int frames, bool channel1, float k, float level,
                          bool rising)
{
    if (values == nullptr || frames < 4) {
        return -1;
    }
    const int offset = channel1 ? 0 : 1;
    for (int i = 0; i <= frames / 2 - 2; ++i) {
        const float a = k * values[2 * i + offset];
        const float b = k * values[2 * (i + 1) + offset];
        if (rising) {
            if (level < a && a < level + kTriggerBand && b > a) {
                return i;
            }
        } else if (level - kTriggerBand < a && a < level && b < a) {
            return i;
        }
    }
    return -1;
}

void ScopeRun::ScopeBlockDone()
{
    int valueCount = 0, overloads = 0;
    std::uint32_t user = 0;
    const float* values = engine_.TakeCapturedBlock(valueCount, overloads, user);
    if (values == nullptr) {
        // No block to read. Ask for another only while the engine can still record; a
        // device that could not be closed (or a stopped engine) would never answer.
        const bool canRecord = engine_.Started() && !engine_.CaptureOpen() && engine_.CaptureFormats() != 0;
        if (running_ && canRecord) {
            controls_.PostScopeNext();
        } else {
            if (running_) {
                const int error = engine_.EngineError();
                ReportDeviceError(error != 0 ? error : SoundEngine::kEngineCloseFailed);
            }
            running_ = false;
        }
        return;
    }
    controls_.SetOverloadText(overloads >= 1 ? "Over " + std::to_string(overloads) : "");

    const ScopeSettings& s = settings_.Scope;
    const int frames = valueCount / 2;
    const float vpd1 = VoltsPerDiv(s.ScopeDiv1).value;
    const float vpd2 = VoltsPerDiv(s.ScopeDiv2).value;
    const float kTrig = scale_ / (s.ScopeTrigCh1 ? vpd1 : vpd2);
    const int trigger = FindTrigger(values, frames, s.ScopeTrigCh1, kTrig, trigLevel_, s.ScopeTrigRising);
    lastTriggered_ = trigger >= 0;
    const int start = lastTriggered_ ? trigger : frames / 2 - 1;
    lastTriggerFrame_ = start;

    const float k1 = scale_ / vpd1;
    const float k2 = scale_ / vpd2;
    for (int e = 0; e <= frames / 2 - 1; ++e) {
        const int i = start + e;
        const float y1 = s.ScopeGnd1 ? yPos1_ : values[2 * i] * k1 + yPos1_;
        const float y2 = s.ScopeGnd2 ? yPos2_ : values[2 * i + 1] * k2 + yPos2_;
        const float x = static_cast<float>(e) * samplePeriod_;
        // A refused point (outside the view's storage) is skipped; the block goes on.
        display_.StoreScopePoint(e, s.ScopeTrigCh1, vpd2, vpd1, x, y2, y1);
    }
    display_.ShowTriggerLevel(s.ScopeTrigCh1, trigLevel_ + (s.ScopeTrigCh1 ? yPos1_ : yPos2_));
    display_.RepaintScope();

    if (running_) {
        controls_.PostScopeNext();
    }
}

void ScopeRun::SpinButton2UpClick()
{
    settings_.Scope.ScopeDiv1 = std::min(settings_.Scope.ScopeDiv1 + 1, kDivMax);
    controls_.SetVoltsPerDivCaption(1, VoltsPerDiv(settings_.Scope.ScopeDiv1).caption);
}

void ScopeRun::SpinButton2DownClick()
{
    settings_.Scope.ScopeDiv1 = std::max(settings_.Scope.ScopeDiv1 - 1, kDivMin);
    controls_.SetVoltsPerDivCaption(1, VoltsPerDiv(settings_.Scope.ScopeDiv1).caption);
}

void ScopeRun::SpinButton1UpClick()
{
    settings_.Scope.ScopeDiv2 = std::min(settings_.Scope.ScopeDiv2 + 1, kDivMax);
    controls_.SetVoltsPerDivCaption(2, VoltsPerDiv(settings_.Scope.ScopeDiv2).caption);
}

void ScopeRun::SpinButton1DownClick()
{
    settings_.Scope.ScopeDiv2 = std::max(settings_.Scope.ScopeDiv2 - 1, kDivMin);
    controls_.SetVoltsPerDivCaption(2, VoltsPerDiv(settings_.Scope.ScopeDiv2).caption);
}

void ScopeRun::SpinButton3UpClick()
{
    settings_.Scope.ScopeTimebase = std::min(settings_.Scope.ScopeTimebase + 1, kTimebaseMax);
    if (!running_) {
        running_ = true;
        controls_.PostScopeNext();
    }
}

void ScopeRun::SpinButton3DownClick()
{
    settings_.Scope.ScopeTimebase = std::max(settings_.Scope.ScopeTimebase - 1, kTimebaseMin);
    if (!running_) {
        running_ = true;
        controls_.PostScopeNext();
    }
}

void ScopeRun::SCRyposCh1Scroll(int position)
{
    yPos1_ = static_cast<float>(-position) * 0.1f + 4.0f;
    ShowTriggerLevel();
}

void ScopeRun::SCRyposch2Scroll(int position)
{
    yPos2_ = static_cast<float>(-position) * 0.1f + 4.0f;
    ShowTriggerLevel();
}

void ScopeRun::SCRtrigScroll(int position)
{
    trigLevel_ = static_cast<float>(-position) * 0.01f;
    ShowTriggerLevel();
}

void ScopeRun::ShowTriggerLevel()
{
    // The trigger compares the channel's scaled value with the level, so on the screen it
    // lies at the level above the channel's zero line.
    const bool ch1 = settings_.Scope.ScopeTrigCh1;
    display_.ShowTriggerLevel(ch1, trigLevel_ + (ch1 ? yPos1_ : yPos2_));
    if (!running_) {
        display_.RepaintScope();
    }
}

void ScopeRun::CheckBox1Click(bool checked)
{
    settings_.Scope.ScopeGnd1 = checked;
}

void ScopeRun::CheckBox3Click(bool checked)
{
    settings_.Scope.ScopeGnd2 = checked;
}

void ScopeRun::CheckBox2Click(bool checked)
{
    settings_.Scope.ScopeTrigRising = checked;
}

void ScopeRun::RadioButton1Click()
{
    settings_.Scope.ScopeTrigCh1 = true;
    controls_.SetScopeChecks(settings_.Scope.ScopeGnd1, settings_.Scope.ScopeGnd2,
                             settings_.Scope.ScopeTrigRising, true);
}

void ScopeRun::RadioButton2Click()
{
    settings_.Scope.ScopeTrigCh1 = false;
    controls_.SetScopeChecks(settings_.Scope.ScopeGnd1, settings_.Scope.ScopeGnd2,
                             settings_.Scope.ScopeTrigRising, false);
}

}  // namespace sonvera
