#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/ui/uitestsupport.h"
#include "ui/wobbeldlg.h"

namespace sonvera {
namespace {

/// Types `text` key by key over the selected old text.
void Type(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
    }
}

class WobbeldlgTest : public ::testing::Test {
protected:
    template <typename T>
    T* Find(const char* name)
    {
        T* w = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
    QString TextOf(const char* name) { return Edit(name)->text(); }
    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    void Show() { dialog.ShowSweepDialog(record, in, out, 44100, 16); }
    /// Reads the dialog as OK does into a fresh copy of the record.
    SweepSettings Ok()
    {
        SweepSettings result = record;
        dialog.ReadSweepDialog(result);
        return result;
    }

    QApplication& app = test::App();  // before the first widget
    SweepSettings record;
    CorrectionCurve in, out;
    Twobbeldlg dialog;
};

TEST_F(WobbeldlgTest, ModalDialogWithEveryNamedControlAndTheDesignedTexts)
{
    EXPECT_EQ(dialog.objectName(), QStringLiteral("Twobbeldlg"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Wobbel-Einstellung"));
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    for (const char* name : {"Efrom", "Eto", "Esteps", "digPeg", "Sstart", "EPmin", "EPmax"}) {
        Edit(name);
    }
    for (const char* spin : {"SpinButton1", "SpinButton2", "SpinButton3", "SpinButton4", "SpinButton5", "SpinBpmin",
                             "SpinBpmax"}) {
        Find<QWidget>(spin);
        Find<QToolButton>((std::string(spin) + "Up").c_str());
        Find<QToolButton>((std::string(spin) + "Down").c_str());
    }
    EXPECT_EQ(Find<QGroupBox>("GroupBox1")->title(), QStringLiteral("Frequenzerzeugung"));
    EXPECT_EQ(Find<QRadioButton>("linearbut")->text(), QStringLiteral("linear"));
    EXPECT_EQ(Find<QRadioButton>("logbutton")->text(), QStringLiteral("logarithmisch"));
    EXPECT_EQ(Find<QLabel>("Label8")->text(), QStringLiteral("Pegel dig."));
    EXPECT_EQ(Find<QGroupBox>("GroupBox2")->title(), QStringLiteral("Phase"));
    EXPECT_EQ(Find<QCheckBox>("PhaseBut")->text(), QStringLiteral("Messung"));
    EXPECT_EQ(Find<QLabel>("Label3")->text(), QStringLiteral("min     Phase     max"));
    EXPECT_EQ(Find<QGroupBox>("MessungRb")->title(), QStringLiteral("Messung"));
    EXPECT_EQ(Find<QRadioButton>("MessungRb0")->text(), QStringLiteral("Mono, links Ref."));
    EXPECT_EQ(Find<QRadioButton>("MessungRb1")->text(), QStringLiteral("Stereo, kein Ref."));
    EXPECT_EQ(Find<QGroupBox>("GroupBox3")->title(), QStringLiteral("Korrektur Datei"));
    EXPECT_EQ(Find<QLabel>("Label6")->text(), QStringLiteral("Eingang:"));
    EXPECT_EQ(Find<QLabel>("Label7")->text(), QStringLiteral("Ausgang:"));
    Find<QLabel>("Label4");
    Find<QLabel>("Label5");
    Find<QLabel>("messzeit");
    EXPECT_EQ(Find<QPushButton>("default")->text(), QStringLiteral("default"));
    EXPECT_EQ(Find<QPushButton>("OKBtn")->text(), QStringLiteral("OK"));
    EXPECT_EQ(Find<QPushButton>("CancelBtn")->text(), QStringLiteral("Abbruch"));
    Find<QPushButton>("HelpBtn");

    // The timing line reads from left to right: tone start, settle time, one block, tone stop.
    std::vector<std::pair<int, QString>> line;
    for (QLabel* l : dialog.findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (l->y() >= 110 && l->y() < 150) {
            line.emplace_back(l->x() * 1000 + l->y(), l->text());
        }
    }
    std::sort(line.begin(), line.end());
    QStringList texts;
    for (const auto& [at, text] : line) {
        texts << text;
    }
    EXPECT_EQ(texts.join(QLatin1Char(' ')),
              QStringLiteral("Start Sinus ---> ms ---------> Messung 300 Stop Sinus"));

    // Every control lies inside the dialog and no two direct children overlap.
    const auto children = dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* a : children) {
        EXPECT_TRUE(dialog.rect().contains(a->geometry())) << a->objectName().toStdString();
        for (QWidget* b : children) {
            if (a != b) {
                EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                    << a->objectName().toStdString() << " / " << b->objectName().toStdString();
            }
        }
    }
}

TEST_F(WobbeldlgTest, ShowSweepDialogFillsTheControls)
{
    record.SweepFrom = 20;
    record.SweepTo = 28000;
    record.SweepSteps = 50;
    record.SweepSettleTime = 100;
    record.SweepLinear = false;
    record.SweepWithRef = false;
    record.SweepPhaseMin = -45.4f;
    record.SweepPhaseMax = 120.6f;
    record.SweepLevel = -100.0f;
    in.fileName = "/data/in.cor";
    in.active = true;
    out.fileName = "/data/out.cor";
    out.active = false;
    Show();
    EXPECT_EQ(TextOf("Efrom"), QStringLiteral("20"));
    EXPECT_EQ(TextOf("Eto"), QStringLiteral("28000"));
    EXPECT_EQ(TextOf("Esteps"), QStringLiteral("50"));
    EXPECT_EQ(TextOf("Sstart"), QStringLiteral("100"));
    EXPECT_EQ(TextOf("EPmin"), QStringLiteral("-45"));
    EXPECT_EQ(TextOf("EPmax"), QStringLiteral("121"));
    EXPECT_EQ(TextOf("digPeg"), QStringLiteral("OFF"));
    EXPECT_TRUE(Find<QRadioButton>("logbutton")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("linearbut")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>("MessungRb1")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("PhaseBut")->isChecked());
    EXPECT_EQ(Find<QLabel>("Label4")->text(), QStringLiteral("/data/in.cor"));
    EXPECT_TRUE(Find<QLabel>("Label4")->isEnabled());
    EXPECT_EQ(Find<QLabel>("Label5")->text(), QStringLiteral("/data/out.cor"));
    EXPECT_FALSE(Find<QLabel>("Label5")->isEnabled());
    // One block of 65520 bytes: 16-bit stereo at 44100 Hz lasts 371 ms, but at most the
    // 8 bytes a frame of the wider format take: 65520000 / (8 * 44100) = 185.
    EXPECT_EQ(Find<QLabel>("messzeit")->text(), QStringLiteral("185ms"));

    record.SweepLevel = -12.34f;
    dialog.ShowSweepDialog(record, in, out, 8000, 8);  // 65520000 / 16000 = 4095, / 64000 = 1023
    EXPECT_EQ(TextOf("digPeg"), QStringLiteral("-12.3"));
    EXPECT_EQ(Find<QLabel>("messzeit")->text(), QStringLiteral("1023ms"));
    dialog.ShowSweepDialog(record, in, out, 48000, 32);  // 32 bits count as 24: 227 and 170
    EXPECT_EQ(Find<QLabel>("messzeit")->text(), QStringLiteral("170ms"));
}

TEST_F(WobbeldlgTest, ArrowButtonsFollowTheSpinRules)
{
    record.SweepFrom = 15;
    record.SweepTo = 20000;
    Show();
    Click("SpinButton1Up");  // 25 rounded down
    EXPECT_EQ(TextOf("Efrom"), QStringLiteral("20"));
    record.SweepFrom = 19995;
    Show();
    Click("SpinButton1Up");
    EXPECT_EQ(TextOf("Efrom"), QStringLiteral("20000"));
    Click("SpinButton1Up");  // no longer below to: only rounded
    EXPECT_EQ(TextOf("Efrom"), QStringLiteral("20000"));
    record.SweepFrom = 5;
    Show();
    Click("SpinButton1Down");
    EXPECT_EQ(TextOf("Efrom"), QStringLiteral("1"));

    record.SweepFrom = 19950;
    record.SweepTo = 20000;
    Show();
    Click("SpinButton2Down");  // from + 100 is not below to
    EXPECT_EQ(TextOf("Eto"), QStringLiteral("20000"));
    Click("SpinButton2Up");
    EXPECT_EQ(TextOf("Eto"), QStringLiteral("20100"));
    record.SweepTo = 86400;
    Show();
    Click("SpinButton2Up");
    EXPECT_EQ(TextOf("Eto"), QStringLiteral("86400"));

    record.SweepSteps = 1000;
    record.SweepLevel = -99.9f;
    record.SweepSettleTime = 0;
    record.SweepPhaseMin = -180.0f;
    record.SweepPhaseMax = 180.0f;
    Show();
    Click("SpinButton3Up");
    EXPECT_EQ(TextOf("Esteps"), QStringLiteral("1000"));
    Click("SpinButton3Down");
    EXPECT_EQ(TextOf("Esteps"), QStringLiteral("999"));
    Click("SpinButton4Down");
    EXPECT_EQ(TextOf("digPeg"), QStringLiteral("OFF"));
    Click("SpinButton4Down");
    EXPECT_EQ(TextOf("digPeg"), QStringLiteral("OFF"));
    Click("SpinButton4Up");
    EXPECT_EQ(TextOf("digPeg"), QStringLiteral("-99.9"));
    Click("SpinButton5Down");
    EXPECT_EQ(TextOf("Sstart"), QStringLiteral("0"));
    Click("SpinButton5Up");
    EXPECT_EQ(TextOf("Sstart"), QStringLiteral("1"));
    Click("SpinBpminDown");
    EXPECT_EQ(TextOf("EPmin"), QStringLiteral("-180"));
    Click("SpinBpminUp");
    EXPECT_EQ(TextOf("EPmin"), QStringLiteral("-179"));
    Click("SpinBpmaxUp");
    EXPECT_EQ(TextOf("EPmax"), QStringLiteral("180"));
    Click("SpinBpmaxDown");
    EXPECT_EQ(TextOf("EPmax"), QStringLiteral("179"));
    EXPECT_EQ(dialog.Model().Work().SweepPhaseMax, 179.0f);
}

TEST_F(WobbeldlgTest, EditsCountOnEveryKeystrokeAndIgnoreWhatTheRuleRefuses)
{
    record.SweepFrom = 20;
    record.SweepTo = 20000;
    Show();
    Type(Edit("Efrom"), QStringLiteral("150"));
    EXPECT_EQ(dialog.Model().Work().SweepFrom, 150);
    Type(Edit("Efrom"), QStringLiteral("0"));  // not above 0: ignored
    EXPECT_EQ(dialog.Model().Work().SweepFrom, 150);
    EXPECT_EQ(TextOf("Efrom"), QStringLiteral("0"));  // the text stays as typed
    Type(Edit("digPeg"), QStringLiteral("-6.5"));
    EXPECT_EQ(dialog.Model().Work().SweepLevel, -6.5f);
    Type(Edit("digPeg"), QStringLiteral("OFF"));  // not a number
    EXPECT_EQ(dialog.Model().Work().SweepLevel, -6.5f);
    Type(Edit("Esteps"), QStringLiteral("1001"));  // 1, 10 and 100 count, 1001 does not
    EXPECT_EQ(dialog.Model().Work().SweepSteps, 100);
    // An arrow button redisplays the working copy, so a refused text gives way.
    Click("SpinButton1Down");
    EXPECT_EQ(TextOf("Efrom"), QStringLiteral("140"));
    EXPECT_EQ(TextOf("digPeg"), QStringLiteral("-6.5"));
    EXPECT_EQ(TextOf("Esteps"), QStringLiteral("100"));
}

TEST_F(WobbeldlgTest, OkClampsWhatTheControlsHold)
{
    record.SweepFrom = 20;
    record.SweepTo = 20000;
    Show();
    Type(Edit("Efrom"), QStringLiteral("0"));
    EXPECT_EQ(Ok().SweepFrom, 1);

    Show();
    Type(Edit("Efrom"), QStringLiteral("30000"));  // 3000 counts, 30000 is not below to
    EXPECT_EQ(dialog.Model().Work().SweepFrom, 3000);
    SweepSettings r = Ok();
    EXPECT_EQ(r.SweepFrom, 30000);
    EXPECT_EQ(r.SweepTo, 30100);

    Show();
    Type(Edit("Sstart"), QStringLiteral("250000"));
    Type(Edit("digPeg"), QStringLiteral("12"));
    Type(Edit("EPmin"), QStringLiteral("-400"));
    Type(Edit("Esteps"), QStringLiteral("0"));
    Type(Edit("Eto"), QStringLiteral("90000"));
    r = Ok();
    EXPECT_EQ(r.SweepSettleTime, 100000);
    EXPECT_EQ(r.SweepLevel, 0.0f);
    EXPECT_EQ(r.SweepPhaseMin, -180.0f);
    EXPECT_EQ(r.SweepSteps, 1);
    EXPECT_EQ(r.SweepTo, 86400);
    // After OK the controls show what was stored.
    EXPECT_EQ(TextOf("Sstart"), QStringLiteral("100000"));
    EXPECT_EQ(TextOf("Eto"), QStringLiteral("86400"));
}

TEST_F(WobbeldlgTest, OkAndCancelCloseTheDialogAndCancelKeepsTheRecord)
{
    record.SweepFrom = 20;
    record.SweepSteps = 50;
    Show();
    Type(Edit("Esteps"), QStringLiteral("7"));
    QTimer::singleShot(0, &dialog, [this] { Click("CancelBtn"); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(record.SweepSteps, 50);  // the caller reads nothing after Cancel
    Show();
    EXPECT_EQ(TextOf("Esteps"), QStringLiteral("50"));  // the next showing starts from the record

    Type(Edit("Esteps"), QStringLiteral("7"));
    QTimer::singleShot(0, &dialog, [this] { Click("OKBtn"); });
    ASSERT_EQ(dialog.exec(), QDialog::Accepted);
    dialog.ReadSweepDialog(record);
    EXPECT_EQ(record.SweepSteps, 7);
}

TEST_F(WobbeldlgTest, StereoClearsThePhaseMeasurement)
{
    record.SweepWithRef = true;
    record.SweepPhase = false;
    Show();
    Click("PhaseBut");
    EXPECT_TRUE(Find<QCheckBox>("PhaseBut")->isChecked());
    EXPECT_TRUE(dialog.Model().Work().SweepPhase);
    Click("MessungRb1");
    EXPECT_FALSE(Find<QCheckBox>("PhaseBut")->isChecked());
    Click("PhaseBut");  // no phase without the reference
    EXPECT_FALSE(Find<QCheckBox>("PhaseBut")->isChecked());
    SweepSettings r = Ok();
    EXPECT_FALSE(r.SweepWithRef);
    EXPECT_FALSE(r.SweepPhase);
    EXPECT_TRUE(Find<QRadioButton>("MessungRb1")->isChecked());

    Click("MessungRb0");
    Click("PhaseBut");
    r = Ok();
    EXPECT_TRUE(r.SweepWithRef);
    EXPECT_TRUE(r.SweepPhase);
}

TEST_F(WobbeldlgTest, CurveTwoChoiceGoesWithThePhaseMeasurementAndReachesTheRecord)
{
    record.SweepPhase = false;
    record.SweepCurve2 = 2;
    Show();
    auto* box = Find<QComboBox>("Curve2Box");
    ASSERT_EQ(box->count(), 7);
    EXPECT_EQ(box->itemText(0), QStringLiteral("Phase"));
    EXPECT_EQ(box->itemText(2), QStringLiteral("THD+N"));
    EXPECT_EQ(box->currentIndex(), 2);
    EXPECT_FALSE(box->isEnabled());
    Click("PhaseBut");
    EXPECT_TRUE(box->isEnabled());
    box->setCurrentIndex(4);
    emit box->activated(4);
    EXPECT_EQ(Ok().SweepCurve2, 4);
    Click("MessungRb1");
    EXPECT_FALSE(box->isEnabled());
}

TEST_F(WobbeldlgTest, TheMeasuringTimeIsTheBlockEveryStepRecords)
{
    // Distortion on curve 2: a power-of-two block of at least a third of a second and 20
    // periods, at 48 kHz 16384 frames (341 ms) from 60 Hz up, 65536 (1365 ms) at 20 Hz.
    record.SweepWithRef = true;
    record.SweepPhase = true;
    record.SweepCurve2 = 1;
    record.SweepFrom = 20;
    record.SweepTo = 20000;
    dialog.ShowSweepDialog(record, in, out, 48000, 24);
    QLabel* time = Find<QLabel>("messzeit");
    EXPECT_EQ(time->text(), QString::fromUtf8("341\u2013" "1365ms"));
    Type(Edit("Efrom"), QStringLiteral("100"));
    EXPECT_EQ(time->text(), QStringLiteral("341ms"));
    emit Find<QComboBox>("Curve2Box")->activated(0);  // the phase: the plain block
    EXPECT_EQ(time->text(), QStringLiteral("170ms"));
}

TEST_F(WobbeldlgTest, SpacingButtonsAndDefaultButton)
{
    record.SweepLinear = false;
    record.SweepFrom = 500;
    record.SweepTo = 900;
    record.SweepSteps = 3;
    record.SweepWithRef = false;
    record.SweepLevel = -20.0f;
    Show();
    Click("linearbut");
    EXPECT_TRUE(Find<QRadioButton>("linearbut")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("logbutton")->isChecked());
    EXPECT_TRUE(dialog.Model().Work().SweepLinear);
    Click("default");
    EXPECT_EQ(TextOf("Efrom"), QStringLiteral("10"));
    EXPECT_EQ(TextOf("Eto"), QStringLiteral("20000"));
    EXPECT_EQ(TextOf("Esteps"), QStringLiteral("50"));
    EXPECT_EQ(TextOf("Sstart"), QStringLiteral("100"));
    EXPECT_EQ(TextOf("EPmin"), QStringLiteral("-90"));
    EXPECT_EQ(TextOf("EPmax"), QStringLiteral("90"));
    EXPECT_EQ(TextOf("digPeg"), QStringLiteral("0.0"));
    EXPECT_TRUE(Find<QRadioButton>("MessungRb0")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>("linearbut")->isChecked());  // the spacing stays
    Click("logbutton");
    EXPECT_FALSE(Ok().SweepLinear);
}

TEST_F(WobbeldlgTest, TextsInBothLanguages)
{
    dialog.SetTexts('E');
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Wobbel dialog"));
    EXPECT_EQ(Find<QLabel>("label1")->text(), QStringLiteral("Frequency from                to"));
    EXPECT_EQ(Find<QLabel>("Label2")->text(), QStringLiteral("Step count"));
    EXPECT_EQ(Find<QGroupBox>("GroupBox1")->title(), QStringLiteral("Frequencygenerating"));
    EXPECT_EQ(Find<QRadioButton>("logbutton")->text(), QStringLiteral("logarithm"));
    EXPECT_EQ(Find<QCheckBox>("PhaseBut")->text(), QStringLiteral("measurement"));
    EXPECT_EQ(Find<QGroupBox>("MessungRb")->title(), QStringLiteral("Measurement"));
    EXPECT_EQ(Find<QRadioButton>("MessungRb0")->text(), QStringLiteral("Mono, left ref."));
    EXPECT_EQ(Find<QRadioButton>("MessungRb1")->text(), QStringLiteral("Stereo, no ref."));
    EXPECT_EQ(Find<QGroupBox>("GroupBox3")->title(), QStringLiteral("Correction files"));
    EXPECT_EQ(Find<QLabel>("Label6")->text(), QStringLiteral("Input:"));
    EXPECT_EQ(Find<QLabel>("Label7")->text(), QStringLiteral("Output:"));
    EXPECT_EQ(Find<QLabel>("Label8")->text(), QStringLiteral("Level dig."));
    EXPECT_EQ(Find<QLabel>("Label17")->text(), QStringLiteral("Curve 2:"));
    EXPECT_EQ(Find<QPushButton>("CancelBtn")->text(), QStringLiteral("Abbruch"));  // the same in both

    dialog.SetTexts('x');
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Wobbel dialog"));

    dialog.SetTexts('D');
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Wobbel Dialog"));
    EXPECT_EQ(Find<QLabel>("label1")->text(), QStringLiteral("Frequenz von                 bis"));
    EXPECT_EQ(Find<QRadioButton>("MessungRb1")->text(), QStringLiteral("Stereo, keine Ref."));
    EXPECT_EQ(Find<QGroupBox>("GroupBox3")->title(), QStringLiteral("Korrektur Dateien"));
    EXPECT_EQ(Find<QLabel>("Label8")->text(), QStringLiteral("Pegel dig."));
    EXPECT_EQ(Find<QLabel>("Label17")->text(), QStringLiteral("Kurve 2:"));
}

TEST_F(WobbeldlgTest, HelpButtonAsksForTheSweepPage)
{
    std::vector<int> asked;
    dialog.SetHelpHandler([&](int context) { asked.push_back(context); });
    Click("HelpBtn");
    EXPECT_EQ(asked, std::vector<int>{9});
}

}  // namespace
}  // namespace sonvera
