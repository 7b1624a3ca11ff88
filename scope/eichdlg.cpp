#include "scope/eichdlg.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "engine/soundengine.h"
#include "measure/appmessages.h"
#include "measure/prompt.h"

namespace sonvera {

namespace {

struct CalibTexts {
    const char* caption;
    const char* group1;
    const char* instruction;
    const char* group2;
    const char* factor;
    const char* explain1;
    const char* explain2;
    const char* explain3;
    const char* wrongValue;
    const char* noReading;
};

const CalibTexts kGerman{
    "Kalibrierung",
    "Oszilloskop",
    "Sinussignal >100mV langsam erh\u00f6hen bis gerade OVER erscheint, dann gemessene Spannung eintragen",
    "Spektrum Analyser",
    "Faktor",
    "Einstellung f\u00fcr korrekte",
    "Pegellinearit\u00e4t und Position im",
    "Diagramm in der Y-Achse",
    "Eichwert falsch",
    "Kein Eichvorgang gestartet",
};

const CalibTexts kEnglish{
    "Calibration",
    "Oszilloscope",
    "Increase slowly a sine signal (>100mV) until OVER is displayed, then enter tension value",
    "Spectrum Analyzer",
    "Factor",
    "Adjustment for the correct",
    "level linearness and position",
    "in the y-axis of the diagram",
    "Calibration value wrong",
    "No Calibration process started",
};

const CalibTexts& Texts(char language)
{
    return language == 'E' ? kEnglish : kGerman;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& r)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(r);
    return l;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, const QRect& r)
{
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(r);
    return e;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QRect& r)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(r);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

TEichDlg::TEichDlg(SoundEngine& engine, QWidget* parent) : QDialog(parent), engine_(engine)
{
    setObjectName(QStringLiteral("EichDlg"));
    setProperty("helpContext", kHelpContext);  // the page F1 opens
    setFixedSize(420, 330);

    groupBox1_ = new QGroupBox(this);
    groupBox1_->setObjectName(QStringLiteral("GroupBox1"));
    groupBox1_->setGeometry(8, 8, 404, 150);
    label1_ = MakeLabel(groupBox1_, "Label1", QString(), QRect(10, 20, 384, 44));
    label1_->setWordWrap(true);
    edit1_ = MakeEdit(groupBox1_, "Edit1", QStringLiteral("100.0"), QRect(10, 72, 80, 24));
    edit1_->setEnabled(false);
    label2_ = MakeLabel(groupBox1_, "Label2", QStringLiteral("mV eff"), QRect(96, 74, 60, 20));
    label3_ = MakeLabel(groupBox1_, "Label3", QStringLiteral("under"), QRect(170, 70, 120, 28));
    label3_->setStyleSheet(QStringLiteral("color: #ff0000; font-weight: bold"));
    button1_ = MakeButton(groupBox1_, "Button1", QStringLiteral("Begin"), QRect(10, 110, 90, 28));
    button2_ = MakeButton(groupBox1_, "Button2", QStringLiteral("End"), QRect(110, 110, 90, 28));

    groupBox2_ = new QGroupBox(this);
    groupBox2_->setObjectName(QStringLiteral("GroupBox2"));
    groupBox2_->setGeometry(8, 164, 404, 120);
    label4_ = MakeLabel(groupBox2_, "Label4", QString(), QRect(10, 22, 60, 20));
    edit2_ = MakeEdit(groupBox2_, "Edit2", QString(), QRect(70, 20, 90, 24));
    label5_ = MakeLabel(groupBox2_, "Label5", QStringLiteral("Offset"), QRect(10, 56, 60, 20));
    edit3_ = MakeEdit(groupBox2_, "Edit3", QString(), QRect(70, 54, 90, 24));
    label6_ = MakeLabel(groupBox2_, "Label6", QString(), QRect(180, 20, 220, 20));
    label8_ = MakeLabel(groupBox2_, "Label8", QString(), QRect(180, 42, 220, 20));
    label9_ = MakeLabel(groupBox2_, "Label9", QString(), QRect(180, 64, 220, 20));

    okBtn_ = MakeButton(this, "OKBtn", QStringLiteral("OK"), QRect(80, 292, 80, 28));
    okBtn_->setDefault(true);
    cancelBtn_ = MakeButton(this, "CancelBtn", QStringLiteral("Abbruch"), QRect(170, 292, 80, 28));
    helpBtn_ = MakeButton(this, "HelpBtn", QStringLiteral("Help"), QRect(260, 292, 80, 28));

    connect(button1_, &QPushButton::clicked, this, &TEichDlg::Button1Click);
    connect(button2_, &QPushButton::clicked, this, &TEichDlg::Button2Click);
    connect(okBtn_, &QPushButton::clicked, this, &TEichDlg::OKBtnClick);
    connect(cancelBtn_, &QPushButton::clicked, this, &QDialog::reject);
    connect(helpBtn_, &QPushButton::clicked, this, &TEichDlg::HelpBtnClick);

    SetCalibTexts('D');
}

void TEichDlg::FillCalibDialog(double inCalib, double /*outCalib*/, double levelFactor, double levelOffset)
{
    calibRunning_ = false;
    calibReading_ = false;
    edit1_->setText(QString::fromStdString(CalibValueText(inCalib)));
    edit2_->setText(QString::fromStdString(LevelNumberText(levelFactor)));
    edit3_->setText(QString::fromStdString(LevelNumberText(levelOffset)));
    shownFactor_ = levelFactor;
    shownOffset_ = levelOffset;
}

std::optional<CalibValues> TEichDlg::ReadCalibValues() const
{
    return ParseCalibValues(edit1_->text().toStdString(), edit2_->text().toStdString(),
                            edit3_->text().toStdString(), shownFactor_, shownOffset_);
}

void TEichDlg::SetCalibTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    language_ = language;
    const CalibTexts& t = Texts(language);
    setWindowTitle(QString::fromUtf8(t.caption));
    groupBox1_->setTitle(QString::fromUtf8(t.group1));
    label1_->setText(QString::fromUtf8(t.instruction));
    groupBox2_->setTitle(QString::fromUtf8(t.group2));
    label4_->setText(QString::fromUtf8(t.factor));
    label6_->setText(QString::fromUtf8(t.explain1));
    label8_->setText(QString::fromUtf8(t.explain2));
    label9_->setText(QString::fromUtf8(t.explain3));
}

void TEichDlg::Button1Click()
{
    if (calibRunning_) {
        return;  // one loop only
    }
    calibRunning_ = true;
    edit1_->setEnabled(false);
    PostAppMessage(this, WM_CALIB_NEXT);
}

void TEichDlg::Button2Click()
{
    // A block already being recorded still arrives and shows; no further one is asked for.
    calibRunning_ = false;
    edit1_->setEnabled(true);
    edit1_->setFocus();
}

void TEichDlg::OnCalibNext()
{
    if (!calibRunning_) {
        return;
    }
    // A capture that cannot start leaves the loop waiting; "End" or closing ends it.
    engine_.StartCapture(kCalibFrames, 0, [this] { CalibBlockDone(); });
}

void TEichDlg::CalibBlockDone()
{
    int valueCount = 0, overloads = 0;
    std::uint32_t user = 0;
    const float* values = engine_.TakeCapturedBlock(valueCount, overloads, user);
    if (values == nullptr) {
        return;
    }
    label3_->setText(QString::fromStdString(CalibLevelText(values, valueCount, overloads)));
    if (calibRunning_) {
        PostAppMessage(this, WM_CALIB_NEXT);
    }
    calibReading_ = true;
}

void TEichDlg::OKBtnClick()
{
    const std::optional<CalibValues> values = ReadCalibValues();
    if (calibReading_ && values) {
        accept();
        return;
    }
    const CalibTexts& t = Texts(language_);
    if (!values) {
        ShowWarningPrompt(t.wrongValue);
    }
    if (!calibReading_) {
        ShowWarningPrompt(t.noReading);
    }
}

void TEichDlg::HelpBtnClick()
{
    if (helpHandler_) {
        helpHandler_(kHelpContext);
    }
}

bool TEichDlg::event(QEvent* event)
{
    if (AppMessageOf(event) == WM_CALIB_NEXT) {
        OnCalibNext();
        return true;
    }
    return QDialog::event(event);
}

void TEichDlg::hideEvent(QHideEvent* event)
{
    edit1_->setEnabled(false);
    calibRunning_ = false;
    QDialog::hideEvent(event);
}

}  // namespace sonvera
