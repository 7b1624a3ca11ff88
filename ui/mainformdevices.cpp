// TMainForm: the sound devices and their menus, the recording line and the levels both
// pages show, the wave format dialogs, the calibration, the feature list and the reset
// of the sound system.
#include "ui/mainform.h"

#include <QAction>
#include <QDialog>
#include <QLabel>

#include <algorithm>

#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "measure/soundstart.h"
#include "scope/caliblevel.h"
#include "scope/eichdlg.h"
#include "ui/featdlg.h"
#include "ui/generatorpage.h"
#include "ui/iodialog.h"
#include "ui/spectrumpage.h"
#include "ui/wavegen.h"

namespace sonvera {

void TMainForm::SetInputLevel(int percent)
{
    engine_.SetLineVolume(percent, engine_.InputLine());
    ShowInputLevel(percent);
}

void TMainForm::ShowInputLevel(int percent)
{
    // The labels show what the line has (the level a run applies is the sliders').
    const QString shown = QString::number(engine_.GetLineVolume(engine_.InputLine())) + QStringLiteral("%");
    spectrumPage_->ShowLineLevel(percent, shown);
    generatorPage_->ShowLineLevel(percent, shown);
}

void TMainForm::SelectAuxInput(int line)
{
    ShowInputLine(SelectInputLine(engine_, state_.settings.Volume, line));
}

void TMainForm::ShowInputLine(int used)
{
    for (int i = 0; i < 10; ++i) {
        auxItems_[static_cast<std::size_t>(i)]->setChecked(i == used);
    }
    const std::string name = engine_.LineName(used);
    if (!name.empty()) {
        spectrumPage_->ShowInputLineName(QString::fromStdString(name));
        generatorPage_->ShowInputLineName(QString::fromStdString(name));
    }
}

void TMainForm::ShowWaveFormatDialog(bool input)
{
    if (windows_.ioDialog) {
        windows_.ioDialog->SetDirection(input);
        ShowModal(windows_.ioDialog);
    }
    run_->RefreshInputLabels();
}

void TMainForm::Eichen1Click()
{
    TEichDlg* dialog = windows_.eichDlg;
    if (dialog == nullptr) {
        return;
    }
    if (engine_.CaptureFormats() == 0) {
        RunReport refused{Measurement::Scope, RunEvent::Refused};
        refused.control = Item("Eichen1")->text().remove(QLatin1Char('&')).toStdString();
        refused.refusal = Refusal::NoInputDevice;
        ReportRun(refused);
        return;
    }
    run_->StopButtonClick();
    scope_->StopOrun();
    Settings& s = state_.settings;
    dialog->FillCalibDialog(s.Calib.InCalibValue, s.Calib.OutCalibValue, s.Volume.LevelFactor, s.Volume.LevelOffset);
    if (ShowModal(dialog) == QDialog::Accepted) {
        if (const std::optional<CalibValues> values = dialog->ReadCalibValues()) {
            StoreCalibValues(*values, s.Calib, s.Volume);
            SaveConfiguration();
        }
    }
    scope_->StartOrun();
}

void TMainForm::RefuseWhilePlaying(const char* control)
{
    RunReport refused{Measurement::Generator, RunEvent::Refused};
    refused.control = control;
    refused.refusal = sweep_->SweepToneOn ? Refusal::SweepPlaying : Refusal::SignalPlaying;
    ReportRun(refused);
}

void TMainForm::ShowFeaturelist1Click()
{
    if (windows_.featDlg) {
        windows_.featDlg->SetReportLines(engine_.DeviceReport());
        ShowModal(windows_.featDlg);
    }
}

void TMainForm::AudioInParameter1Click()
{
    ShowWaveFormatDialog(true);
}

void TMainForm::AudioOutParameter1Click()
{
    if (engine_.PlaybackActive()) {
        RefuseWhilePlaying("Audio-Out-Parameter");
        return;
    }
    ShowWaveFormatDialog(false);
}

void TMainForm::UpdateStatusLine()
{
    StatusLine->setText(QString::fromStdString(StatusText()));
}

std::string TMainForm::StatusText() const
{
    const std::string devices =
        engine_.DeviceName('I', engine_.InDeviceIndex()) + " / " + engine_.DeviceName('O', engine_.OutDeviceIndex());
    // The note comes first: the line is narrow, and the devices are in their menus too.
    return restoredLines_.empty() ? devices : messages_->linesRestored + restoredLines_ + "   " + devices;
}

void TMainForm::SelectInDeviceItem(int index)
{
    if (engine_.PlaybackActive()) {
        RefuseWhilePlaying("Audio-In-Device");
        return;
    }
    for (int i = 0; i < 3; ++i) {
        inDeviceItems_[static_cast<std::size_t>(i)]->setChecked(i == index);
    }
    engine_.SelectInDevice(index < inDeviceCount_ ? index : 0);
    state_.settings.Main.InDeviceIndex = engine_.InDeviceIndex();
    restoredLines_.clear();
    UpdateStatusLine();
    int bitsIn = 0, bitsOut = 0, rateIn = 0, rateOut = 0;
    engine_.GetFormatBits(bitsIn, bitsOut);
    engine_.GetSampleRates(rateIn, rateOut);
    spectrumPage_->Ldb->setText(QString::number(bitsIn) + QStringLiteral(" Bit"));
    spectrumPage_->Lsf->setText(QString::number(rateIn) + QStringLiteral(" Hz"));
}

void TMainForm::SelectOutDeviceItem(int index)
{
    if (engine_.PlaybackActive()) {
        RefuseWhilePlaying("Audio-Out-Device");
        return;
    }
    for (int i = 0; i < 3; ++i) {
        outDeviceItems_[static_cast<std::size_t>(i)]->setChecked(i == index);
    }
    engine_.SelectOutDevice(index < outDeviceCount_ ? index : 0);
    state_.settings.Main.OutDeviceIndex = engine_.OutDeviceIndex();
    GetSetAuxVolOut();
    restoredLines_.clear();
    UpdateStatusLine();
}

void TMainForm::GetSetAuxVolOut()
{
    const int volume = engine_.GetOutputVolume();
    if (volume != -1 && volume != 0) {
        generatorPage_->SetOutputSlider(100 - volume);
        state_.settings.Volume.GenOutVolume = volume;
        generatorPage_->ShowOutputVolume(volume);
    }
}

void TMainForm::Reset1Click()
{
    scope_->StopOrun();
    sweep_->STOPbutClick();
    run_->StopButtonClick();
    if (windows_.wavegen) {
        windows_.wavegen->GstopClick();
    }
    // The shutdown gives the line back what it had; the level the program had set on it
    // comes back after the start, a line the program never wrote stays the user's.
    const bool lineSet = engine_.LineTouched(engine_.InputLine());
    engine_.ShutdownSoundEngine();
    const int error = engine_.InitSoundEngine();
    if (error != 0) {
        // Nothing can be measured until the next reset succeeds; say so instead of
        // leaving a dead engine behind silently.
        ShowErrorPrompt(messages_->soundFailure + engine_.DeviceErrorText(static_cast<std::uint32_t>(error)) + ")",
                        kSoundFailureHelpContext);
        return;
    }
    if (lineSet) {
        SetInputLevel(state_.settings.Volume.GenInVolume);
    }
    // The start set the output to 25 %; the output plays what the "Out" slider shows.
    engine_.SetOutputVolume(state_.settings.Volume.GenOutVolume);
    generatorPage_->ShowOutputVolume(engine_.GetOutputVolume());
    // The round trip of the devices as they are now; its line goes to the feature list.
    engine_.MeasureRoundTrip();
    // On the oscilloscope page the trace goes on with the new engine (elsewhere this
    // does nothing).
    scope_->StartOrun();
}

}  // namespace sonvera
