#include "ui/distortion.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <span>

#include "config/settings.h"
#include "dsp/window.h"
#include "engine/soundengine.h"
#include "measure/spectrumrun.h"

namespace sonvera {

namespace {

/// Rows of large readings the window holds (the THD mode's seven).
constexpr int kReadingRows = 7;
constexpr int kHelpContext = 20;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

TDistortion::TDistortion(SpectrumRun& run, SoundEngine& engine, Settings& settings, WeightingFilter& filter,
                         SpectrumDiagram& diagram, QWidget* parent)
    : QDialog(parent), run_(run), engine_(engine), settings_(settings), filter_(filter), diagram_(diagram)
{
    setObjectName(QStringLiteral("TDistortion"));
    setProperty("helpContext", kHelpContext);  // the page F1 opens
    auto* top = new QVBoxLayout(this);

    auto* choices = new QHBoxLayout;
    ModeLabel = new QLabel(this);
    ModeLabel->setObjectName(QStringLiteral("ModeLabel"));
    DistMode = new QComboBox(this);
    DistMode->setObjectName(QStringLiteral("DistMode"));
    DistStandard = new QComboBox(this);
    DistStandard->setObjectName(QStringLiteral("DistStandard"));
    DistStandard->addItems({QStringLiteral("SMPTE"), QStringLiteral("DIN"), QStringLiteral("CCIF")});
    DistPlay = new QCheckBox(this);
    DistPlay->setObjectName(QStringLiteral("DistPlay"));
    DistPlay->setChecked(true);
    choices->addWidget(ModeLabel);
    choices->addWidget(DistMode);
    choices->addWidget(DistStandard);
    choices->addWidget(DistPlay);
    choices->addStretch();
    top->addLayout(choices);

    DistSettings = new QLabel(this);
    DistSettings->setObjectName(QStringLiteral("DistSettings"));
    top->addWidget(DistSettings);

    // The readings: label, left, right; large enough to read from the rack.
    auto* grid = new QGridLayout;
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.7);
    QFont bigBold = big;
    bigBold.setBold(true);
    LeftHeader = new QLabel(this);
    LeftHeader->setObjectName(QStringLiteral("LeftHeader"));
    RightHeader = new QLabel(this);
    RightHeader->setObjectName(QStringLiteral("RightHeader"));
    for (QLabel* header : {LeftHeader, RightHeader}) {
        header->setFont(bigBold);
        header->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    grid->addWidget(LeftHeader, 0, 1);
    grid->addWidget(RightHeader, 0, 2);
    for (int r = 0; r < kReadingRows; ++r) {
        auto make = [&](const char* prefix, bool value) {
            auto* label = new QLabel(this);
            label->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(r));
            label->setFont(value ? bigBold : big);
            label->setAlignment((value ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
            return label;
        };
        rowLabels_.push_back(make("DistLabel", false));
        leftValues_.push_back(make("DistLeft", true));
        rightValues_.push_back(make("DistRight", true));
        grid->addWidget(rowLabels_.back(), r + 1, 0);
        grid->addWidget(leftValues_.back(), r + 1, 1);
        grid->addWidget(rightValues_.back(), r + 1, 2);
    }
    grid->setColumnMinimumWidth(1, 300);
    grid->setColumnMinimumWidth(2, 300);
    grid->setHorizontalSpacing(24);
    top->addLayout(grid);

    DistHarmonics = new QTableWidget(0, 2, this);
    DistHarmonics->setObjectName(QStringLiteral("DistHarmonics"));
    DistHarmonics->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DistHarmonics->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    DistHarmonics->verticalHeader()->setDefaultSectionSize(DistHarmonics->fontMetrics().height() + 4);
    DistHarmonics->setMinimumHeight(10 * (DistHarmonics->fontMetrics().height() + 4));
    top->addWidget(DistHarmonics, 1);
    // Without the table (the other modes) the rows stay together and the buttons below.
    top->addStretch(0);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name) {
        auto* b = new QPushButton(this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    DistStart = button("DistStart");
    DistStop = button("DistStop");
    buttons->addStretch();
    DistDiagram = button("DistDiagram");
    DistCopy = button("DistCopy");
    DistClose = button("DistClose");
    DistStart->setText(QStringLiteral("START"));
    DistStop->setText(QStringLiteral("STOP"));
    top->addLayout(buttons);
    DistStatus = new QLabel(this);
    DistStatus->setObjectName(QStringLiteral("DistStatus"));
    top->addWidget(DistStatus);

    watch_ = new QTimer(this);
    watch_->setInterval(250);
    connect(watch_, &QTimer::timeout, this, [this] { Watch(); });
    connect(DistStart, &QPushButton::clicked, this, [this] { StartClick(); });
    connect(DistStop, &QPushButton::clicked, this, [this] { StopClick(); });
    connect(DistDiagram, &QPushButton::clicked, this, [this] { DiagramClick(); });
    connect(DistCopy, &QPushButton::clicked, this, [this] { CopyClick(); });
    connect(DistClose, &QPushButton::clicked, this, [this] { hide(); });
    connect(DistMode, &QComboBox::activated, this, [this] { ModeChanged(); });
    connect(DistStandard, &QComboBox::activated, this, [this] { ModeChanged(); });
    connect(DistPlay, &QCheckBox::clicked, this, [this] { ModeChanged(); });

    run_.ResultTaken = [this] { ResultTaken(); };
    SetTexts('D');
    ModeChanged();
}

TDistortion::~TDistortion()
{
    run_.ResultTaken = nullptr;
}

void TDistortion::SetTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    language_ = language;
    const bool en = language == 'E';
    setWindowTitle(en ? QStringLiteral("Distortion analyser") : QStringLiteral("Klirranalysator"));
    ModeLabel->setText(en ? QStringLiteral("Measure") : QStringLiteral("Messung"));
    const int mode = std::max(0, DistMode->currentIndex());
    DistMode->clear();
    if (en) {
        DistMode->addItems({QStringLiteral("THD and harmonics"), QStringLiteral("Intermodulation (IMD)"),
                            QStringLiteral("Noise and dynamic range"), QStringLiteral("Crosstalk")});
    } else {
        DistMode->addItems({QStringLiteral("Klirrfaktor und Harmonische"), QStringLiteral("Intermodulation (IMD)"),
                            QStringLiteral("Rauschen und Dynamik"), QStringLiteral("Übersprechen")});
    }
    DistMode->setCurrentIndex(mode);
    DistPlay->setText(en ? QStringLiteral("play test signal") : QStringLiteral("Testsignal ausgeben"));
    DistDiagram->setText(en ? QStringLiteral("To diagram") : QStringLiteral("Ins Diagramm"));
    DistCopy->setText(en ? QStringLiteral("Copy") : QStringLiteral("Kopieren"));
    DistClose->setText(en ? QStringLiteral("Close") : QStringLiteral("Schließen"));
    DistHarmonics->setHorizontalHeaderLabels(
        {en ? QStringLiteral("Left") : QStringLiteral("Links"), en ? QStringLiteral("Right") : QStringLiteral("Rechts")});
    DistStatus->setText(Q(en ? statusEnglish_ : statusGerman_));
    ShowReadings();
}

DistortionMeterSettings TDistortion::ChosenSettings() const
{
    DistortionMeterSettings s;
    s.mode = static_cast<DistortionMode>(std::clamp(DistMode->currentIndex(), 0, 3));
    s.imdTest = static_cast<TwoToneTest>(std::clamp(DistStandard->currentIndex(), 0, 2));
    s.play = DistPlay->isChecked();
    return s;
}

void TDistortion::ModeChanged()
{
    const DistortionMeterSettings s = ChosenSettings();
    DistStandard->setEnabled(s.mode == DistortionMode::Imd);
    // Noise and crosstalk need their own signal.
    DistPlay->setEnabled(s.mode == DistortionMode::Thd || s.mode == DistortionMode::Imd);
    meter_.Configure(s);
    if (started_ && playing_) {
        engine_.StopPlayback();
        playing_ = false;
    }
    if (started_) {
        if (const std::string problem = PlaySignal(); !problem.empty()) {
            StopClick();
        }
    }
    ShowReadings();
}

std::string TDistortion::PlaySignal()
{
    int rateIn = 0, rateOut = 0;
    engine_.GetSampleRates(rateIn, rateOut);
    for (const int f : meter_.PlayedFrequencies()) {
        if (2 * f >= rateOut) {
            ShowStatus("Ton " + std::to_string(f) + " Hz nicht unter der halben Abtastrate",
                       "tone " + std::to_string(f) + " Hz is not below half the sample rate");
            return "rate";
        }
    }
    const DistortionMeter::Signal signal = meter_.SignalOf(rateOut);
    if (signal.left.empty()) {
        return "";
    }
    // One tone's blocks are checked for steps in its phase (frames lost on the way).
    const std::vector<int> tones = meter_.PlayedFrequencies();
    const int toneHz = tones.size() == 1 ? tones.front() : 0;
    if (const int code = engine_.StartLoopedSignal(signal.left, signal.right, toneHz); code != 0) {
        const std::string detail = engine_.DeviceErrorText(static_cast<std::uint32_t>(code));
        ShowStatus("Testsignal nicht abspielbar: " + detail, "the test signal cannot be played: " + detail);
        return "device";
    }
    playing_ = true;
    return "";
}

void TDistortion::StartClick()
{
    if (started_ || run_.Running) {
        ShowStatus("Die Messung läuft bereits", "the measurement runs already");
        return;
    }
    meter_.Configure(ChosenSettings());
    const bool plays = !meter_.PlayedFrequencies().empty();
    if (plays && engine_.PlaybackActive()) {
        ShowStatus("Der Ausgang spielt bereits ein Signal (Generator): erst dort anhalten",
                   "the output plays a signal already (generator): stop it there first");
        return;
    }
    ShowStatus("", "");
    if (!PlaySignal().empty()) {
        return;
    }
    previousRunMode_ = run_.RunMode;
    run_.RunningGroupClick(1);
    run_.StartButtonClick();
    if (!run_.Running) {
        if (playing_) {
            engine_.StopPlayback();
            playing_ = false;
        }
        run_.RunningGroupClick(previousRunMode_);
        ShowStatus("Die Messung konnte nicht beginnen (Statuszeile des Hauptfensters)",
                   "the measurement could not start (see the main window's status line)");
        return;
    }
    started_ = true;
    watch_->start();
    ShowReadings();
}

void TDistortion::StopClick()
{
    if (!started_) {
        return;
    }
    started_ = false;
    watch_->stop();
    if (run_.Running) {
        run_.StopButtonClick();
    }
    if (playing_) {
        engine_.StopPlayback();
        playing_ = false;
    }
    run_.RunningGroupClick(previousRunMode_);
    // The mode change clears the diagram's result line: the last readings stay under the
    // spectrum they belong to.
    if (meter_.Results() > 0) {
        diagram_.SetResultLines(meter_.Summary(), language_);
    }
    ShowReadings();
}

void TDistortion::Watch()
{
    // The run ended without STOP here (device error, the page was left, STOP on the page):
    // the test signal ends with it.
    if (started_ && !run_.Running) {
        StopClick();
        ShowStatus("Messung beendet", "measurement ended");
    }
}

void TDistortion::hideEvent(QHideEvent* e)
{
    StopClick();
    QDialog::hideEvent(e);
}

void TDistortion::ResultTaken()
{
    const DistortionMeterSettings& s = meter_.Settings();
    const bool ownSignal = s.mode == DistortionMode::Noise || s.mode == DistortionMode::Crosstalk;
    // A two-part reading needs the signals this window plays; results of the analyser
    // alone are read only in the modes that measure what arrives.
    if (!isVisible() || (ownSignal && !started_)) {
        return;
    }
    const FftSettings& fft = settings_.Fft;
    int rateIn = 0, rateOut = 0;
    engine_.GetSampleRates(rateIn, rateOut);
    const AnalysisSettings& a = settings_.Analysis;
    const DistortionParams params = DistortionParamsFor(rateIn, fft.FftPoints, fft.FftWindow, a.AnaFreqLow, a.AnaFreqHigh);
    const auto half = static_cast<std::size_t>(fft.FftPoints / 2);
    if (run_.SpectrumLeft.size() < half || run_.SpectrumRight.size() < half) {
        return;
    }
    const bool weighted = filter_.Standard() != StandardWeighting::None && run_.WeightedLeft.size() >= half &&
                          run_.WeightedRight.size() >= half;
    // A channel the analyser does not measure holds an old spectrum: it reads as silence.
    const std::vector<float> silence(half, 0.0f);
    auto channel = [&](bool on, const std::vector<float>& plain, const std::vector<float>& w) {
        if (!on) {
            return ChannelSpectrum(std::span<const float>(silence));
        }
        return ChannelSpectrum(std::span<const float>(plain.data(), half),
                               weighted ? std::span<const float>(w.data(), half) : std::span<const float>());
    };
    const bool phaseMoved = meter_.Take(channel(run_.LeftOn, run_.SpectrumLeft, run_.WeightedLeft),
                                        channel(run_.RightOn, run_.SpectrumRight, run_.WeightedRight), params, filter_);
    if (phaseMoved && started_) {
        // The engine records again any block begun before the new signal arrived and settled.
        engine_.StopPlayback();
        playing_ = false;
        if (!PlaySignal().empty()) {
            StopClick();
        }
    }
    if (started_) {
        diagram_.SetResultLines(meter_.Summary(), language_);
    }
    ShowReadings();
}

void TDistortion::ShowReadings()
{
    const FftSettings& fft = settings_.Fft;
    const AnalysisSettings& a = settings_.Analysis;
    const std::string windowName(fft.FftWindow >= 0 && fft.FftWindow < kWindowCount
                                     ? kWindowNames[static_cast<std::size_t>(fft.FftWindow)]
                                     : std::string_view());
    const bool en = language_ == 'E';
    DistSettings->setText(Q(std::to_string(fft.FftPoints) + (en ? " points, " : " Punkte, ") + windowName + ", " +
                            std::to_string(fft.FftAverage) + (en ? " averaged, " : " gemittelt, ") + "Band " +
                            std::to_string(a.AnaFreqLow) + "–" + std::to_string(a.AnaFreqHigh) + " Hz" +
                            (filter_.Standard() != StandardWeighting::None ? ", " + a.AnaFilterName : "") +
                            // The test signal plays at the output's volume (the generator's slider).
                            (en ? ", output " : ", Ausgang ") + std::to_string(engine_.GetOutputVolume()) + " %"));
    LeftHeader->setText(en ? QStringLiteral("Left") : QStringLiteral("Links"));
    RightHeader->setText(en ? QStringLiteral("Right") : QStringLiteral("Rechts"));
    const std::vector<MeterRow> rows = meter_.Rows(language_);
    for (std::size_t r = 0; r < rowLabels_.size(); ++r) {
        const bool shown = r < rows.size();
        rowLabels_[r]->setText(shown ? Q(rows[r].label) : QString());
        leftValues_[r]->setText(shown ? Q(rows[r].left) : QString());
        rightValues_[r]->setText(shown ? Q(rows[r].right) : QString());
        for (QLabel* label : {rowLabels_[r], leftValues_[r], rightValues_[r]}) {
            label->setVisible(shown);
        }
    }
    const std::vector<MeterRow> harmonics = meter_.HarmonicRows(language_);
    DistHarmonics->setVisible(meter_.Settings().mode == DistortionMode::Thd);
    DistHarmonics->setRowCount(static_cast<int>(harmonics.size()));
    QStringList names;
    for (std::size_t h = 0; h < harmonics.size(); ++h) {
        names << Q(harmonics[h].label);
        for (int c = 0; c < 2; ++c) {
            auto* item = new QTableWidgetItem(Q(c == 0 ? harmonics[h].left : harmonics[h].right));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            DistHarmonics->setItem(static_cast<int>(h), c, item);
        }
    }
    DistHarmonics->setVerticalHeaderLabels(names);
    DistStart->setEnabled(!started_);
    DistStop->setEnabled(started_);
}

void TDistortion::ShowStatus(const std::string& german, const std::string& english)
{
    statusGerman_ = german;
    statusEnglish_ = english;
    DistStatus->setText(Q(language_ == 'E' ? english : german));
}

void TDistortion::DiagramClick()
{
    diagram_.SetResultLines(meter_.Summary(), language_);
    diagram_.Show(true);
}

void TDistortion::CopyClick()
{
    QApplication::clipboard()->setText(Q(meter_.Text(language_)));
}

}  // namespace sonvera
