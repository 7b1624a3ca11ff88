#pragma once

#include <QDialog>
#include <memory>

#include "dsp/logsweepanalysis.h"

class QComboBox;
class QRadioButton;

namespace sonvera {

class ImpulsePlot;

/// The log sweep's linear impulse response ("Impulsantwort"): time in ms from its peak,
/// the linear window the frequency response was taken with drawn over it (dashed), the
/// level as amplitude or in dB; in stereo for either input. Not modal; thin over
/// ImpulsePlot.
class TImpulse : public QDialog {
public:
    explicit TImpulse(QWidget* parent = nullptr);
    ~TImpulse() override;

    /// Shows the result's response (the right input, or the one chosen in stereo).
    void SetResult(const LogSweepResult& result);
    /// 'D' or 'E'; other letters change nothing.
    void SetTexts(char language);
    /// The picture of the plot as shown, at its size.
    QImage Picture() const;

private:
    class View;
    void ChannelChange();

    LogSweepResult result_;
    std::unique_ptr<ImpulsePlot> plot_;
    char language_ = 'D';
    View* ImpulseView = nullptr;
    QRadioButton* ImpulseAmplitude = nullptr;
    QRadioButton* ImpulseDb = nullptr;
    QComboBox* ImpulseChannel = nullptr;
};

}  // namespace sonvera
