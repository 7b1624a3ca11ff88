#include "ui/spectrumpage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

#include "measure/appmessages.h"
#include "ui/diagramlink.h"
#include "ui/distortion.h"
#include "ui/flagpicture.h"
#include "ui/mainpage.h"
#include "ui/shellstate.h"

namespace sonvera {

using mainpage::Place;
using mainpage::Q;

SpectrumPage::SpectrumPage(QWidget* page, std::vector<QWidget*>& layout, SoundEngine& engine, ShellState& state,
                           DiagramLink& diagram, PageHost& host, QWidget* window)
    : state_(state), host_(host), diagram_(diagram)
{
    run_ = std::make_unique<SpectrumRun>(engine, state_.settings, diagram, static_cast<SpectrumPageView&>(*this),
                                         state_.filter, state_.InCorrection);
    distortion_ = new TDistortion(*run_, engine, state_.settings, state_.filter, diagram, window);
    BuildPage(page, layout);
}

SpectrumPage::~SpectrumPage()
{
    // The window reads and drives the run: it goes first.
    delete distortion_;
}

void SpectrumPage::Enter()
{
    run_->EnterSpectrumPage();
    diagram_.ShowKeptResult(kept_);
}

void SpectrumPage::Leave()
{
    // The analyser's window ends its signal and goes with the page.
    distortion_->hide();
    if (run_->SpectrumPageActive) {
        kept_ = diagram_.KeepResult();
    }
    run_->LeaveSpectrumPage();
}

void SpectrumPage::ShowDistortion()
{
    if (!distortionPlaced_) {
        host_.PlaceBesideMainWindow(distortion_);
        distortionPlaced_ = true;
    }
    distortion_->show();
    distortion_->raise();
    distortion_->activateWindow();
}

void SpectrumPage::BuildPage(QWidget* page0, std::vector<QWidget*>& L)
{
    FFTwinGroup = Place<QGroupBox>(page0, L, "FFTwinGroup", 6, 4, 124, 232);
    FFTwinGroup->setTitle(QStringLiteral(" FFT-Window "));
    fftWinButtons_ = new QButtonGroup(page0);
    const char* const windows[] = {"None",       "Hamming",    "van Hann",   "Blackman",  "Bla/Harris",
                                   "Flat-Top",   "Rife-Vinc1", "Rife-Vinc2", "Rife-Vinc3"};
    for (int i = 0; i < 9; ++i) {
        const std::string name = "FFTwinGroup" + std::to_string(i);
        auto* b = Place<QRadioButton>(FFTwinGroup, L, name.c_str(), 8, 20 + i * 23, 110, 20);
        b->setText(Q(windows[i]));
        fftWinButtons_->addButton(b, i);
    }
    FFTpointsgroup = Place<QGroupBox>(page0, L, "FFTpointsgroup", 136, 4, 104, 142);
    FFTpointsgroup->setTitle(QStringLiteral("FFT-Punkte"));
    fftPointsButtons_ = new QButtonGroup(page0);
    const char* const sizes[] = {"512", "1024", "2048", "4096"};
    for (int i = 0; i < 4; ++i) {
        const std::string name = "FFTpointsgroup" + std::to_string(i);
        auto* b = Place<QRadioButton>(FFTpointsgroup, L, name.c_str(), 8, 20 + i * 23, 88, 20);
        b->setText(Q(sizes[i]));
        fftPointsButtons_->addButton(b, i);
    }
    // The fifth choice: a button without text beside the list of the longer sizes; the
    // list's entry is the size the button stands for.
    auto* longer = Place<QRadioButton>(FFTpointsgroup, L, "FFTpointsgroup4", 8, 114, 18, 20);
    fftPointsButtons_->addButton(longer, 4);
    FFTpointsCombo = Place<QComboBox>(FFTpointsgroup, L, "FFTpointsCombo", 24, 112, 78, 22);
    // Narrow padding, so that "1048576" fits beside the button.
    FFTpointsCombo->setStyleSheet(QStringLiteral("QComboBox { padding-left: 2px; padding-right: 0px; }"));
    for (int item = 4; item < SpectrumRun::kPointsItemCount; ++item) {
        FFTpointsCombo->addItem(QString::number(SpectrumRun::PointsForItem(item)));
    }
    RunningGroup = Place<QGroupBox>(page0, L, "RunningGroup", 136, 150, 104, 86);
    RunningGroup->setTitle(QStringLiteral("Betrieb"));
    runningButtons_ = new QButtonGroup(page0);
    const char* const modes[] = {"einzeln", "fortlaufend", "Trigger"};
    for (int i = 0; i < 3; ++i) {
        const std::string name = "RunningGroup" + std::to_string(i);
        auto* b = Place<QRadioButton>(RunningGroup, L, name.c_str(), 8, 18 + i * 21, 90, 20);
        b->setText(Q(modes[i]));
        runningButtons_->addButton(b, i);
    }

    MeasureGroup = Place<QGroupBox>(page0, L, "MeasureGroup", 246, 4, 200, 150);
    MeasureGroup->setTitle(QStringLiteral(" Measurement "));
    Overload = Place<QLabel>(MeasureGroup, L, "Overload", 10, 20, 120, 18);
    Overload->setText(QStringLiteral("."));
    Overload->setToolTip(Q("evtl. Übersteuerung"));
    Overload->setStyleSheet(QStringLiteral("color: red"));
    ScrollBar3 = Place<QScrollBar>(MeasureGroup, L, "ScrollBar3", 10, 44, 130, 18);
    ScrollBar3->setOrientation(Qt::Horizontal);
    ScrollBar3->setRange(0, 100);
    ScrollBar3->setToolTip(QStringLiteral("Eingangspegel"));
    InLevelLabel = Place<QLabel>(MeasureGroup, L, "InLevelLabel", 146, 44, 48, 18);
    MeasureLeft = Place<QCheckBox>(MeasureGroup, L, "MeasureLeft", 10, 70, 86, 20);
    MeasureLeft->setText(QStringLiteral("links"));
    MeasureRight = Place<QCheckBox>(MeasureGroup, L, "MeasureRight", 100, 70, 90, 20);
    MeasureRight->setText(QStringLiteral("rechts"));
    Label6 = Place<QLabel>(MeasureGroup, L, "Label6", 10, 100, 110, 18);
    Label6->setText(Q("Mittelwert über"));
    AverValBox = Place<QSpinBox>(MeasureGroup, L, "AverVal", 122, 98, 68, 22);
    AverValBox->setRange(1, 9999);

    InputGroup = Place<QGroupBox>(page0, L, "InputGroup", 246, 158, 200, 78);
    InputGroup->setTitle(QStringLiteral(" Input samples "));
    Binpopt = Place<QPushButton>(InputGroup, L, "Binpopt", 10, 22, 92, 28);
    Binpopt->setText(QStringLiteral("In-Parameter"));
    Lsf = Place<QLabel>(InputGroup, L, "Lsf", 110, 20, 84, 18);
    Ldb = Place<QLabel>(InputGroup, L, "Ldb", 110, 42, 84, 18);

    StartButton = Place<QPushButton>(page0, L, "StartButton", 456, 12, 128, 44);
    StartButton->setText(QStringLiteral("START"));
    StopButton = Place<QPushButton>(page0, L, "StopButton", 456, 64, 128, 44);
    StopButton->setText(QStringLiteral("STOP"));
    coract = Place<QLabel>(page0, L, "coract", 456, 118, 128, 18);
    coract->setText(QStringLiteral("."));
    DistortionBut = Place<QPushButton>(page0, L, "DistortionBut", 456, 146, 128, 28);
    DistortionBut->setText(Q("Klirranalysator …"));
    Image1 = Place<QLabel>(page0, L, "Image1", 456, 200, 58, 18);
    Image1->setPixmap(DrawLanguageFlags());
    Image1->hide();

    QObject::connect(StartButton, &QPushButton::clicked, page0, [this] { run_->StartButtonClick(); });
    QObject::connect(StopButton, &QPushButton::clicked, page0, [this] { run_->StopButtonClick(); });
    QObject::connect(DistortionBut, &QPushButton::clicked, page0, [this] { ShowDistortion(); });
    QObject::connect(fftWinButtons_, &QButtonGroup::idClicked, page0, [this](int i) { run_->FFTwinGroupClick(i); });
    QObject::connect(fftPointsButtons_, &QButtonGroup::idClicked, page0, [this](int i) {
        run_->FFTpointsgroupClick(i < 4 ? i : 4 + FFTpointsCombo->currentIndex());
    });
    QObject::connect(FFTpointsCombo, &QComboBox::activated, page0, [this](int i) {
        fftPointsButtons_->button(4)->setChecked(true);
        run_->FFTpointsgroupClick(4 + i);
    });
    progressTimer_ = new QTimer(page0);
    progressTimer_->setInterval(250);
    QObject::connect(progressTimer_, &QTimer::timeout, page0, [this] { ShowBlockProgress(); });
    QObject::connect(runningButtons_, &QButtonGroup::idClicked, page0, [this](int i) { run_->RunningGroupClick(i); });
    QObject::connect(MeasureLeft, &QCheckBox::clicked, page0, [this](bool c) { run_->MeasureLeftClick(c); });
    QObject::connect(MeasureRight, &QCheckBox::clicked, page0, [this](bool c) { run_->MeasureRightClick(c); });
    // Dragging, the arrows and page clicks all end in a new value.
    QObject::connect(ScrollBar3, &QScrollBar::valueChanged, page0, [this](int p) {
        if (p != state_.settings.Volume.GenInVolume) {
            state_.settings.Volume.GenInVolume = p;
            SetInputLevel(p);
        }
    });
    QObject::connect(Binpopt, &QPushButton::clicked, page0, [this] { BinpoptClick(); });
}

std::vector<QWidget*> SpectrumPage::Lockables() const
{
    return {StartButton, FFTpointsgroup, AverValBox, Binpopt};
}

void SpectrumPage::BinpoptClick()
{
    host_.ShowWaveFormatDialog(true);
}

void SpectrumPage::ShowLineLevel(int percent, const QString& lineLevel)
{
    {
        // Only the slider moves: its handler would write the line.
        const QSignalBlocker block(ScrollBar3);
        ScrollBar3->setValue(percent);
    }
    InLevelLabel->setText(lineLevel);
}

void SpectrumPage::ShowInputLineName(const QString& name)
{
    MeasureGroup->setTitle(name);
}

void SpectrumPage::SetChannelColours(const QString& left, const QString& right)
{
    MeasureLeft->setStyleSheet(QStringLiteral("color: ") + left);
    MeasureRight->setStyleSheet(QStringLiteral("color: ") + right);
}

// ---- Spectrum page view ----------------------------------------------------------------------

void SpectrumPage::SetOverloadLabel(const std::string& text)
{
    Overload->setText(QString::fromStdString(text));
}

void SpectrumPage::ShowAverVal(int value)
{
    // The run shows the count after every block; the box repaints (with the group and
    // page behind it) even for the value it already holds.
    if (AverValBox->value() != value) {
        AverValBox->setValue(value);
    }
}

int SpectrumPage::AverVal() const
{
    return AverValBox->value();
}

void SpectrumPage::SetRunLockedControlsEnabled(bool enabled)
{
    FFTpointsgroup->setEnabled(enabled);
    AverValBox->setEnabled(enabled);
    StartButton->setEnabled(enabled);  // a running spectrum shows START greyed
    host_.LockMenus(!enabled);
}

void SpectrumPage::SetBinpoptEnabled(bool enabled)
{
    Binpopt->setEnabled(enabled);
    host_.RefreshLockTips();
}

void SpectrumPage::SelectRunMode(int index)
{
    if (QAbstractButton* b = runningButtons_->button(index)) {
        b->setChecked(true);
    }
}

void SpectrumPage::SelectFftWindow(int index)
{
    if (QAbstractButton* b = fftWinButtons_->button(index)) {
        b->setChecked(true);
    }
}

void SpectrumPage::SelectFftPointsItem(int index)
{
    if (index >= 4 && index < SpectrumRun::kPointsItemCount) {
        const QSignalBlocker block(FFTpointsCombo);
        FFTpointsCombo->setCurrentIndex(index - 4);
        index = 4;
    }
    if (QAbstractButton* b = fftPointsButtons_->button(index)) {
        b->setChecked(true);
    }
}

void SpectrumPage::ShowBlockProgress()
{
    const double total = run_->BlockSeconds();
    if (total <= 1.0) {
        return;  // a block of a second or less needs no progress
    }
    RunReport progress{Measurement::Spectrum, RunEvent::Recording};
    progress.recordedSeconds = run_->BlockSecondsRecorded();
    progress.totalSeconds = total;
    host_.ReportRun(progress);
}

void SpectrumPage::SetInputFormatLabels(const std::string& bits, const std::string& rate)
{
    Ldb->setText(QString::fromStdString(bits));
    Lsf->setText(QString::fromStdString(rate));
}

void SpectrumPage::SetAnalyseMenuEnabled(bool enabled)
{
    host_.SetAnalyseMenuEnabled(enabled);
}

void SpectrumPage::SetAnalysisChecks(bool thd, bool noise)
{
    host_.SetAnalysisChecks(thd, noise);
}

void SpectrumPage::SetChannelChecks(bool left, bool right)
{
    MeasureLeft->setChecked(left);
    MeasureRight->setChecked(right);
}

void SpectrumPage::SetInputLevel(int percent)
{
    host_.SetInputLevel(percent);
}

void SpectrumPage::ShowInputLevel(int percent)
{
    host_.ShowInputLevel(percent);
}

void SpectrumPage::PostSpectrumNext()
{
    host_.PostToMainWindow(WM_SPECTRUM_NEXT);
}

void SpectrumPage::CloseMainWindow()
{
    host_.CloseMainWindow();
}

void SpectrumPage::ReportRun(const RunReport& report)
{
    host_.ReportRun(report);
    // While a run goes on, its long blocks show their progress.
    if (report.event == RunEvent::Running) {
        progressTimer_->start();
    } else if (report.event != RunEvent::Refused) {
        progressTimer_->stop();
    }
}

}  // namespace sonvera
