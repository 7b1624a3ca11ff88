#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "config/settings.h"
#include "dsp/curve.h"
#include "dsp/weighting.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace sonvera {

class ProfileFile;

/// The THD+N / level analysis parameters dialog ("Analyse Dialog"): band edges,
/// weighting filter, automatic or manual fundamental and the search threshold.
/// Reads section ANALYSE when created; writes it each time it closes and when destroyed.
class TAnaly : public QDialog {
public:
    TAnaly(AnalysisSettings& analysis, WeightingFilter& filter, CurveFileLoader& loader, ProfileFile& profile,
           QWidget* parent = nullptr);
    ~TAnaly() override;

    /// Fills the controls from the settings and shows the dialog modally.
    int ShowAnalysisDialog();
    /// Fills the controls from the settings (part of ShowAnalysisDialog).
    void FillControls();
    void SetAnalysisTexts(char language);

    /// OK: validates in order; on the first failure its warning, and the dialog stays.
    void BitBtn1Click();
    void CheckBox1Click();
    /// A choice in the filter list; "USER" asks for a correction file at once and loads
    /// it (OK applies it; a file not chosen or not loadable leaves the choice as it was).
    void ComboBox1Change(const QString& name);

    /// Asks for the user filter file; returns "" when cancelled (tests replace it).
    std::function<std::string()> chooseUserFile;

protected:
    void done(int result) override;

private:
    void WriteSection();
    /// Moves the fields right of the widest caption and widens the dialog so that every
    /// text of the current language shows whole in the dialog's font.
    void FitToTexts();

    AnalysisSettings& analysis_;
    WeightingFilter& filter_;
    CurveFileLoader& loader_;
    ProfileFile& profile_;
    char language_ = 'D';
    int shownFilterIndex_ = 0;              // the list's choice before "USER" was picked
    CorrectionCurve pendingUserCurve_;      // a user file loaded, waiting for OK
    bool pendingUserLoaded_ = false;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QComboBox* ComboBox1;
    QCheckBox* CheckBox1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;
};

}  // namespace sonvera
