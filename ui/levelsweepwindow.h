#pragma once

#include <QDialog>

#include <functional>
#include <memory>

#include "measure/levelsweep.h"

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace sonvera {

class SoundEngine;
class SweepDiagram;

/// The level sweep window of the generator page ("Pegelsweep" / "Level sweep"): the
/// tone's frequency, the output levels from, to and their step in dBFS; START, STOP and
/// the level being played. THD+N of the right input goes to the diagram against the
/// output level, the maximum level (1 % THD+N) into its result line. Thin over LevelSweepRun.
class TLevelSweep : public QDialog, private LevelSweepView {
public:
    /// `settleWait` waits the given milliseconds with the window responsive (the page's
    /// wait); false when the program is closing.
    TLevelSweep(SoundEngine& engine, SweepDiagram& diagram, std::function<bool(int)> settleWait,
                QWidget* parent = nullptr);
    ~TLevelSweep() override;

    /// 'D' or 'E'; any other letter changes nothing.
    void SetTexts(char language);
    LevelSweepRun& Run() { return *run_; }
    /// Whether another run of the page (the stepped sweep) is busy: START is refused then.
    std::function<bool()> OtherRunBusy;

    QSpinBox* FreqEdit = nullptr;
    QDoubleSpinBox* FromEdit = nullptr;
    QDoubleSpinBox* ToEdit = nullptr;
    QDoubleSpinBox* StepEdit = nullptr;
    QPushButton* StartBut = nullptr;
    QPushButton* StopBut = nullptr;
    QLabel* LevelText = nullptr;
    QLabel* ProblemText = nullptr;

private:
    void StartClick();
    // LevelSweepView.
    void PostLevelSweepStep() override;
    bool SettleWait(int ms) override;
    void SetLevelSweepRunning(bool running) override;
    void SetLevelText(const std::string& text) override;
    void ReportLevelSweepProblem(const ResultLine& why) override;

    std::unique_ptr<LevelSweepRun> run_;
    std::function<bool(int)> settleWait_;
    char language_ = 'D';
    ResultLine problem_;
    QLabel* freqLabel_ = nullptr;
    QLabel* fromLabel_ = nullptr;
    QLabel* toLabel_ = nullptr;
    QLabel* stepLabel_ = nullptr;
};

}  // namespace sonvera
