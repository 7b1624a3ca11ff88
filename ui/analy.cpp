#include "ui/analy.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>

#include "config/numberformat.h"
#include "config/profilefile.h"
#include "config/sections.h"
#include "dsp/analysis.h"
#include "measure/prompt.h"
#include "measure/soundstart.h"
#include "measure/spectrumrun.h"
#include "ui/helpwindow.h"
#include "ui/placing.h"

namespace sonvera {

namespace {

constexpr int kHelpContext = 19;

using placing::Place;

QLabel* Text(QWidget* parent, const char* name, const char* text, int x, int y, int w)
{
    auto* label = Place<QLabel>(parent, name, x, y, w, 18);
    label->setText(QString::fromUtf8(text));
    return label;
}

}  // namespace

TAnaly::TAnaly(AnalysisSettings& analysis, WeightingFilter& filter, CurveFileLoader& loader, ProfileFile& profile,
               QWidget* parent)
    : QDialog(parent), analysis_(analysis), filter_(filter), loader_(loader), profile_(profile)
{
    setObjectName(QStringLiteral("TAnaly"));
    setProperty("helpContext", kHelpContext);  // the page F1 opens
    setWindowTitle(QStringLiteral("Analyse Dialog"));
    setFixedSize(249, 206);

    Label1 = Text(this, "Label1", "Frequenz low", 8, 10, 90);
    Edit1 = Place<QLineEdit>(this, "Edit1", 100, 8, 80, 22);
    Label5 = Text(this, "Label5", "Hz", 186, 10, 30);
    Label2 = Text(this, "Label2", "Frequenz high", 8, 36, 90);
    Edit2 = Place<QLineEdit>(this, "Edit2", 100, 34, 80, 22);
    Label6 = Text(this, "Label6", "Hz", 186, 36, 30);
    Label3 = Text(this, "Label3", "Filter", 8, 62, 90);
    ComboBox1 = Place<QComboBox>(this, "ComboBox1", 100, 60, 140, 22);
    for (const Weighting& w : Weightings()) {
        ComboBox1->addItem(QString::fromUtf8(w.name.data(), static_cast<int>(w.name.size())));
    }
    ComboBox1->addItem(QString::fromUtf8(kUserFilterName.data(), static_cast<int>(kUserFilterName.size())));
    ComboBox1->setEditable(false);
    CheckBox1 = Place<QCheckBox>(this, "CheckBox1", 8, 88, 230, 20);
    CheckBox1->setText(QStringLiteral("Grundwelle automatisch"));
    Edit3 = Place<QLineEdit>(this, "Edit3", 8, 112, 80, 22);
    Label7 = Text(this, "Label7", "Hz manuell", 94, 114, 120);
    Edit4 = Place<QLineEdit>(this, "Edit4", 8, 140, 80, 22);
    Label4 = Text(this, "Label4", "dB Schwellwert Automatik", 94, 142, 150);
    BitBtn1 = Place<QPushButton>(this, "BitBtn1", 8, 174, 72, 26);
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn1->setDefault(true);
    BitBtn2 = Place<QPushButton>(this, "BitBtn2", 88, 174, 72, 26);
    BitBtn2->setText(QStringLiteral("Abbruch"));
    BitBtn3 = Place<QPushButton>(this, "BitBtn3", 168, 174, 72, 26);
    BitBtn3->setText(QStringLiteral("Help"));

    connect(BitBtn1, &QPushButton::clicked, this, &TAnaly::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn3, &QPushButton::clicked, this, [] { Help().ShowContext(kHelpContext); });
    connect(CheckBox1, &QCheckBox::clicked, this, &TAnaly::CheckBox1Click);
    connect(ComboBox1, &QComboBox::textActivated, this, &TAnaly::ComboBox1Change);

    chooseUserFile = [this] {
        return QFileDialog::getOpenFileName(this, QString(), QString(), QStringLiteral("*.cor")).toStdString();
    };

    ReadStartFilter(profile_, analysis_, filter_, loader_);
    FillControls();
    FitToTexts();
}

void TAnaly::FitToTexts()
{
    // The designed places hold; a caption wider than its column pushes the fields right,
    // and a text wider than the dialog widens it.
    const auto textWidth = [](const QWidget* w, const QString& text) {
        return w->fontMetrics().horizontalAdvance(text) + 2;
    };
    constexpr int kGap = 6;
    int captions = 0;
    for (const QLabel* label : {Label1, Label2, Label3}) {
        captions = std::max(captions, textWidth(label, label->text()));
    }
    const int fieldX = std::max(100, Label1->x() + captions + kGap);
    for (QLabel* label : {Label1, Label2, Label3}) {
        label->resize(fieldX - kGap - label->x(), label->height());
    }
    Edit1->move(fieldX, Edit1->y());
    Edit2->move(fieldX, Edit2->y());
    ComboBox1->move(fieldX, ComboBox1->y());
    for (QLabel* unit : {Label5, Label6}) {
        unit->setGeometry(fieldX + Edit1->width() + kGap, unit->y(), textWidth(unit, unit->text()), unit->height());
    }
    CheckBox1->resize(std::max(230, CheckBox1->sizeHint().width()), CheckBox1->height());
    for (QLabel* label : {Label7, Label4}) {
        label->resize(textWidth(label, label->text()), label->height());
    }
    int right = BitBtn3->geometry().right();
    for (const QWidget* w : {static_cast<QWidget*>(Label5), static_cast<QWidget*>(Label6),
                             static_cast<QWidget*>(ComboBox1), static_cast<QWidget*>(CheckBox1),
                             static_cast<QWidget*>(Label7), static_cast<QWidget*>(Label4)}) {
        right = std::max(right, w->geometry().right());
    }
    setFixedSize(std::max(249, right + 1 + 8), 206);
}

TAnaly::~TAnaly()
{
    WriteSection();
}

void TAnaly::WriteSection()
{
    analysis_.AnaFilterName = filter_.AnaFilterName;
    analysis_.AnaFilterFile = filter_.UserFile();
    WriteAnalysisSection(profile_, analysis_);
}

void TAnaly::FillControls()
{
    CheckBox1->setChecked(analysis_.FundAuto);
    Edit3->setEnabled(!analysis_.FundAuto);
    Label7->setEnabled(!analysis_.FundAuto);
    Edit3->setText(QString::fromStdString(FormatFixed(analysis_.Fundamental, 0)));
    const int index = ComboBox1->findText(QString::fromStdString(filter_.AnaFilterName));
    if (index >= 0) {
        ComboBox1->setCurrentIndex(index);
    }
    shownFilterIndex_ = ComboBox1->currentIndex();
    ClearCurve(pendingUserCurve_);
    pendingUserLoaded_ = false;
    Edit1->setText(QString::number(analysis_.AnaFreqLow));
    Edit2->setText(QString::number(analysis_.AnaFreqHigh));
    Edit4->setText(QString::fromStdString(FormatFixed(20.0 * std::log10(analysis_.FundThreshold), 1)));
}

int TAnaly::ShowAnalysisDialog()
{
    FillControls();
    return exec();
}

void TAnaly::CheckBox1Click()
{
    const bool automatic = CheckBox1->isChecked();
    Edit3->setEnabled(!automatic);
    Label7->setEnabled(!automatic);
    analysis_.FundAuto = automatic;
}

void TAnaly::ComboBox1Change(const QString& name)
{
    if (name.toStdString() != kUserFilterName) {
        shownFilterIndex_ = ComboBox1->currentIndex();
        return;
    }
    // The file is loaded now and applied by OK; a file that is not chosen or cannot be
    // loaded puts the list back on the weighting it showed before.
    const std::string file = chooseUserFile ? chooseUserFile() : std::string();
    CorrectionCurve loaded;
    if (!file.empty() && loader_.LoadCurveFile(loaded, file)) {
        pendingUserCurve_ = std::move(loaded);
        pendingUserLoaded_ = true;
        shownFilterIndex_ = ComboBox1->currentIndex();
        return;
    }
    ComboBox1->setCurrentIndex(shownFilterIndex_);
}

void TAnaly::BitBtn1Click()
{
    AnalysisInput input;
    input.low = Edit1->text().toStdString();
    input.high = Edit2->text().toStdString();
    input.fundamental = Edit3->text().toStdString();
    input.thresholdDb = Edit4->text().toStdString();
    const AnalysisValidation result = ValidateAnalysisInput(input, language_);
    if (!result.values) {
        ShowWarningPrompt(result.message);
        return;
    }
    analysis_.AnaFreqLow = result.values->AnaFreqLow;
    analysis_.AnaFreqHigh = result.values->AnaFreqHigh;
    analysis_.FundThreshold = result.values->FundThreshold;
    analysis_.FundAuto = CheckBox1->isChecked();
    analysis_.Fundamental = result.values->Fundamental;
    const std::string chosen = ComboBox1->currentText().toStdString();
    if (chosen == kUserFilterName) {
        // Without a new file the user weighting in force stays.
        if (pendingUserLoaded_) {
            filter_.SelectUserCurve(std::move(pendingUserCurve_));
            pendingUserLoaded_ = false;
        }
    } else {
        filter_.SelectFilter(chosen);
    }
    analysis_.AnaFilterName = filter_.AnaFilterName;
    analysis_.AnaFilterFile = filter_.UserFile();
    accept();
}

void TAnaly::done(int result)
{
    WriteSection();
    QDialog::done(result);
}

void TAnaly::SetAnalysisTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    language_ = language;
    const bool de = language == 'D';
    setWindowTitle(de ? QStringLiteral("Analyse Dialog") : QStringLiteral("Analyze Dialog"));
    Label1->setText(de ? QStringLiteral("Frequenz low") : QStringLiteral("Frequency low"));
    Label2->setText(de ? QStringLiteral("Frequenz high") : QStringLiteral("Frequency high"));
    CheckBox1->setText(de ? QStringLiteral("Grundwelle automatisch") : QStringLiteral("Fundamental automatic"));
    Label7->setText(de ? QStringLiteral("Hz manuell") : QStringLiteral("Hz manually"));
    Label4->setText(de ? QStringLiteral("dB Schwellwert Automatik") : QStringLiteral("dB treshhold automatic"));
    FitToTexts();
}

}  // namespace sonvera
