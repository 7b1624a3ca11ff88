#include "ui/levelsweepwindow.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace sonvera {

namespace {

// How long each tone plays before its block is recorded.
constexpr int kSettleMs = 200;

QDoubleSpinBox* LevelBox(QWidget* parent, const char* name, double min, double max, double value)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setDecimals(2);
    box->setRange(min, max);
    box->setValue(value);
    return box;
}

}  // namespace

TLevelSweep::TLevelSweep(SoundEngine& engine, SweepDiagram& diagram, std::function<bool(int)> settleWait,
                         QWidget* parent)
    : QDialog(parent), settleWait_(std::move(settleWait))
{
    setObjectName(QStringLiteral("LevelSweep"));
    run_ = std::make_unique<LevelSweepRun>(engine, diagram, static_cast<LevelSweepView&>(*this));
    auto* grid = new QGridLayout(this);
    FreqEdit = new QSpinBox(this);
    FreqEdit->setObjectName(QStringLiteral("FreqEdit"));
    FreqEdit->setRange(1, 100000);
    FreqEdit->setValue(997);
    FreqEdit->setSuffix(QStringLiteral(" Hz"));
    FromEdit = LevelBox(this, "FromEdit", -100.0, 0.0, -60.0);
    ToEdit = LevelBox(this, "ToEdit", -100.0, 0.0, 0.0);
    StepEdit = LevelBox(this, "StepEdit", 0.01, 100.0, 1.0);
    for (QDoubleSpinBox* b : {FromEdit, ToEdit}) {
        b->setSuffix(QStringLiteral(" dBFS"));
    }
    StepEdit->setSuffix(QStringLiteral(" dB"));
    freqLabel_ = new QLabel(this);
    fromLabel_ = new QLabel(this);
    toLabel_ = new QLabel(this);
    stepLabel_ = new QLabel(this);
    int row = 0;
    for (auto [label, edit] : {std::pair<QLabel*, QWidget*>{freqLabel_, FreqEdit}, {fromLabel_, FromEdit},
                               {toLabel_, ToEdit}, {stepLabel_, StepEdit}}) {
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row++, 1);
    }
    StartBut = new QPushButton(QStringLiteral("START"), this);
    StartBut->setObjectName(QStringLiteral("StartBut"));
    StopBut = new QPushButton(QStringLiteral("STOP"), this);
    StopBut->setObjectName(QStringLiteral("StopBut"));
    StopBut->setEnabled(false);
    grid->addWidget(StartBut, row, 0);
    grid->addWidget(StopBut, row++, 1);
    LevelText = new QLabel(this);
    LevelText->setObjectName(QStringLiteral("LevelText"));
    LevelText->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    LevelText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(LevelText, row++, 0, 1, 2);
    ProblemText = new QLabel(this);
    ProblemText->setObjectName(QStringLiteral("ProblemText"));
    ProblemText->setStyleSheet(QStringLiteral("color: red"));
    ProblemText->setWordWrap(true);
    grid->addWidget(ProblemText, row++, 0, 1, 2);
    connect(StartBut, &QPushButton::clicked, this, [this] { StartClick(); });
    connect(StopBut, &QPushButton::clicked, this, [this] { run_->Stop(); });
    SetTexts('D');
}

TLevelSweep::~TLevelSweep()
{
    run_->Stop();
}

void TLevelSweep::SetTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    language_ = language;
    const bool de = language == 'D';
    setWindowTitle(de ? QStringLiteral("Pegelsweep") : QStringLiteral("Level sweep"));
    freqLabel_->setText(de ? QStringLiteral("Frequenz") : QStringLiteral("Frequency"));
    fromLabel_->setText(de ? QStringLiteral("von") : QStringLiteral("from"));
    toLabel_->setText(de ? QStringLiteral("bis") : QStringLiteral("to"));
    stepLabel_->setText(de ? QStringLiteral("Schritt") : QStringLiteral("step"));
    ProblemText->setText(QString::fromStdString(problem_.In(language_)));
}

void TLevelSweep::StartClick()
{
    problem_ = {};
    ProblemText->clear();
    if (OtherRunBusy && OtherRunBusy()) {
        ReportLevelSweepProblem({"Pegelsweep: es läuft schon ein Signal", "Level sweep: a signal is playing already"});
        return;
    }
    run_->Start({FreqEdit->value(), FromEdit->value(), ToEdit->value(), StepEdit->value()}, kSettleMs);
}

void TLevelSweep::PostLevelSweepStep()
{
    QTimer::singleShot(0, this, [this] { run_->Step(); });
}

bool TLevelSweep::SettleWait(int ms)
{
    return settleWait_(ms);
}

void TLevelSweep::SetLevelSweepRunning(bool running)
{
    StartBut->setEnabled(!running);
    StopBut->setEnabled(running);
    for (QWidget* w : {static_cast<QWidget*>(FreqEdit), static_cast<QWidget*>(FromEdit),
                       static_cast<QWidget*>(ToEdit), static_cast<QWidget*>(StepEdit)}) {
        w->setEnabled(!running);
    }
}

void TLevelSweep::SetLevelText(const std::string& text)
{
    LevelText->setText(QString::fromStdString(text));
}

void TLevelSweep::ReportLevelSweepProblem(const ResultLine& why)
{
    problem_ = why;
    ProblemText->setText(QString::fromStdString(why.In(language_)));
}

}  // namespace sonvera
