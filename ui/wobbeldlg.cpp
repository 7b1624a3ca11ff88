#include "ui/wobbeldlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>

#include <string>

#include "ui/placing.h"

namespace sonvera {

using namespace placing;

namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 396;

QString Text(const std::string& s)
{
    return QString::fromStdString(s);
}

QLineEdit* PlaceEdit(QWidget* parent, const char* name, int x, int y, int w)
{
    auto* edit = Place<QLineEdit>(parent, name, x, y, w, 22);
    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return edit;
}

}  // namespace

Twobbeldlg::Twobbeldlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Twobbeldlg"));
    setProperty("helpContext", kHelpContext);  // the page F1 opens
    setWindowTitle(QStringLiteral("Wobbel-Einstellung"));
    setModal(true);
    setFixedSize(kWidth, kHeight);
    BuildControls();
    Connect();
    model_.ShowSweepValues();
    Refresh();
}

void Twobbeldlg::BuildControls()
{
    // Frequency range and steps.
    label1 = PlaceLabel(this, "label1", QStringLiteral("Frequenz von                 bis"), 10, 8, 220);
    Efrom = PlaceEdit(this, "Efrom", 10, 26, 70);
    PlaceSpinButtons(this, "SpinButton1", 82, 26, 16, 22, SpinButton1.up, SpinButton1.down);
    Eto = PlaceEdit(this, "Eto", 120, 26, 70);
    PlaceSpinButtons(this, "SpinButton2", 192, 26, 16, 22, SpinButton2.up, SpinButton2.down);
    Label2 = PlaceLabel(this, "Label2", QStringLiteral("Anzahl Steps"), 240, 8, 120);
    Esteps = PlaceEdit(this, "Esteps", 240, 26, 60);
    PlaceSpinButtons(this, "SpinButton3", 302, 26, 16, 22, SpinButton3.up, SpinButton3.down);

    // Spacing and level.
    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", 10, 56, 210, 50);
    GroupBox1->setTitle(QStringLiteral("Frequenzerzeugung"));
    linearbut = Place<QRadioButton>(GroupBox1, "linearbut", 8, 22, 70, 20);
    linearbut->setText(QStringLiteral("linear"));
    logbutton = Place<QRadioButton>(GroupBox1, "logbutton", 84, 22, 120, 20);
    logbutton->setText(QStringLiteral("logarithmisch"));
    Label8 = PlaceLabel(this, "Label8", QStringLiteral("Pegel dig."), 240, 60, 120);
    digPeg = PlaceEdit(this, "digPeg", 240, 78, 60);
    PlaceSpinButtons(this, "SpinButton4", 302, 78, 16, 22, SpinButton4.up, SpinButton4.down);

    // Timing line: tone start, settle time, measurement of one block, tone stop.
    const int t = 116;
    PlaceLabel(this, "Label9", QStringLiteral("Start"), 10, t, 44, 16, Qt::AlignCenter);
    PlaceLabel(this, "Label10", QStringLiteral("Sinus"), 10, t + 16, 44, 16, Qt::AlignCenter);
    PlaceLabel(this, "Label11", QStringLiteral("--->"), 56, t + 8, 30, 16, Qt::AlignCenter);
    Sstart = PlaceEdit(this, "Sstart", 88, t + 5, 60);
    PlaceSpinButtons(this, "SpinButton5", 150, t + 5, 16, 22, SpinButton5.up, SpinButton5.down);
    PlaceLabel(this, "Label12", QStringLiteral("ms"), 170, t + 8, 20);
    PlaceLabel(this, "Label13", QStringLiteral("--------->"), 192, t + 8, 62, 16, Qt::AlignCenter);
    // Wide enough for the range a distortion sweep's steps take ("341–1365ms").
    PlaceLabel(this, "Label14", QStringLiteral("Messung"), 256, t, 82, 16, Qt::AlignCenter);
    messzeit = PlaceLabel(this, "messzeit", QStringLiteral("300"), 256, t + 16, 82, 16, Qt::AlignCenter);
    PlaceLabel(this, "Label15", QStringLiteral("Stop"), 340, t, 44, 16, Qt::AlignCenter);
    PlaceLabel(this, "Label16", QStringLiteral("Sinus"), 340, t + 16, 44, 16, Qt::AlignCenter);

    // Phase measurement and measuring mode.
    GroupBox2 = Place<QGroupBox>(this, "GroupBox2", 10, 160, 210, 94);
    GroupBox2->setTitle(QStringLiteral("Phase"));
    PhaseBut = Place<QCheckBox>(GroupBox2, "PhaseBut", 8, 20, 190, 20);
    PhaseBut->setText(QStringLiteral("Messung"));
    Label3 = PlaceLabel(GroupBox2, "Label3", QStringLiteral("min     Phase     max"), 8, 44, 194, 16, Qt::AlignCenter);
    EPmin = PlaceEdit(GroupBox2, "EPmin", 8, 64, 50);
    PlaceSpinButtons(GroupBox2, "SpinBpmin", 60, 64, 16, 22, SpinBpmin.up, SpinBpmin.down);
    EPmax = PlaceEdit(GroupBox2, "EPmax", 132, 64, 50);
    PlaceSpinButtons(GroupBox2, "SpinBpmax", 184, 64, 16, 22, SpinBpmax.up, SpinBpmax.down);

    MessungRb = Place<QGroupBox>(this, "MessungRb", 230, 160, 180, 94);
    MessungRb->setTitle(QStringLiteral("Messung"));
    messungItems_ = new QButtonGroup(this);
    MessungRb0 = Place<QRadioButton>(MessungRb, "MessungRb0", 8, 24, 166, 20);
    MessungRb0->setText(QStringLiteral("Mono, links Ref."));
    MessungRb1 = Place<QRadioButton>(MessungRb, "MessungRb1", 8, 50, 166, 20);
    MessungRb1->setText(QStringLiteral("Stereo, kein Ref."));
    messungItems_->addButton(MessungRb0, 0);
    messungItems_->addButton(MessungRb1, 1);

    // What curve 2 shows with the reference: the phase or a distortion reading.
    Label17 = PlaceLabel(this, "Label17", QStringLiteral("Kurve 2:"), 18, 265, 70);
    Curve2Box = Place<QComboBox>(this, "Curve2Box", 90, 262, 122, 22);
    for (const char* item : kSweepCurve2Items) {
        Curve2Box->addItem(QString::fromLatin1(item));
    }

    // Correction files.
    GroupBox3 = Place<QGroupBox>(this, "GroupBox3", 10, 290, 400, 62);
    GroupBox3->setTitle(QStringLiteral("Korrektur Datei"));
    Label6 = PlaceLabel(GroupBox3, "Label6", QStringLiteral("Eingang:"), 8, 20, 76);
    Label7 = PlaceLabel(GroupBox3, "Label7", QStringLiteral("Ausgang:"), 8, 38, 76);
    Label4 = PlaceLabel(GroupBox3, "Label4", QString(), 86, 20, 306);
    Label5 = PlaceLabel(GroupBox3, "Label5", QString(), 86, 38, 306);
    for (QLabel* name : {Label4, Label5}) {
        name->setTextFormat(Qt::PlainText);
    }

    // Buttons.
    auto button = [this](const char* name, const char* text, int x) {
        auto* b = Place<QPushButton>(this, name, x, 362, 92, 26);
        b->setText(QString::fromLatin1(text));
        b->setAutoDefault(false);
        return b;
    };
    defaultBtn = button("default", "default", 10);
    OKBtn = button("OKBtn", "OK", 116);
    OKBtn->setDefault(true);
    CancelBtn = button("CancelBtn", "Abbruch", 216);
    HelpBtn = button("HelpBtn", "Hilfe", 318);
}

void Twobbeldlg::Connect()
{
    auto spin = [this](const Spin& s, void (SweepSettingsModel::*down)(), void (SweepSettingsModel::*up)()) {
        connect(s.down, &QToolButton::clicked, this, [this, down] {
            (model_.*down)();
            Refresh();
        });
        connect(s.up, &QToolButton::clicked, this, [this, up] {
            (model_.*up)();
            Refresh();
        });
    };
    spin(SpinButton1, &SweepSettingsModel::FromDown, &SweepSettingsModel::FromUp);
    spin(SpinButton2, &SweepSettingsModel::ToDown, &SweepSettingsModel::ToUp);
    spin(SpinButton3, &SweepSettingsModel::StepsDown, &SweepSettingsModel::StepsUp);
    spin(SpinButton4, &SweepSettingsModel::LevelDown, &SweepSettingsModel::LevelUp);
    spin(SpinButton5, &SweepSettingsModel::SettleDown, &SweepSettingsModel::SettleUp);
    spin(SpinBpmin, &SweepSettingsModel::PhaseMinDown, &SweepSettingsModel::PhaseMinUp);
    spin(SpinBpmax, &SweepSettingsModel::PhaseMaxDown, &SweepSettingsModel::PhaseMaxUp);

    auto edit = [this](QLineEdit* e, void (SweepSettingsModel::*changed)(const std::string&)) {
        connect(e, &QLineEdit::textEdited, this,
                [this, changed](const QString& text) {
                    (model_.*changed)(text.toStdString());
                    messzeit->setText(Text(model_.MeasuringTime()));  // the sweep's ends set it
                });
    };
    edit(Efrom, &SweepSettingsModel::FromChanged);
    edit(Eto, &SweepSettingsModel::ToChanged);
    edit(Esteps, &SweepSettingsModel::StepsChanged);
    edit(EPmin, &SweepSettingsModel::PhaseMinChanged);
    edit(EPmax, &SweepSettingsModel::PhaseMaxChanged);
    edit(digPeg, &SweepSettingsModel::LevelChanged);
    edit(Sstart, &SweepSettingsModel::SettleChanged);

    connect(linearbut, &QRadioButton::clicked, this, [this] { model_.LinearClicked(linearbut->isChecked()); });
    connect(logbutton, &QRadioButton::clicked, this, [this] { model_.LinearClicked(linearbut->isChecked()); });
    connect(messungItems_, &QButtonGroup::idClicked, this, [this](int id) {
        model_.MessungClicked(id);
        Refresh();
    });
    connect(PhaseBut, &QCheckBox::clicked, this, [this](bool checked) {
        model_.PhaseButClicked(checked);
        Refresh();
    });
    connect(Curve2Box, &QComboBox::activated, this, [this](int item) {
        model_.Curve2Chosen(item);
        Refresh();
    });
    connect(defaultBtn, &QPushButton::clicked, this, [this] {
        model_.DefaultClicked();
        Refresh();
    });
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpBtn, &QPushButton::clicked, this, [this] {
        if (helpHandler_) {
            helpHandler_(kHelpContext);
        }
    });
}

void Twobbeldlg::TakeWidgets()
{
    SweepDialogControls& c = model_.Controls;
    c.linear = linearbut->isChecked();
    c.phase = PhaseBut->isChecked();
    c.from = Efrom->text().toStdString();
    c.to = Eto->text().toStdString();
    c.steps = Esteps->text().toStdString();
    c.settle = Sstart->text().toStdString();
    c.phaseMin = EPmin->text().toStdString();
    c.phaseMax = EPmax->text().toStdString();
    c.level = digPeg->text().toStdString();
}

void Twobbeldlg::Refresh()
{
    const SweepDialogControls& c = model_.Controls;
    const QSignalBlocker b1(Efrom), b2(Eto), b3(Esteps), b4(EPmin), b5(EPmax), b6(digPeg), b7(Sstart);
    const QSignalBlocker b8(linearbut), b9(logbutton), b10(PhaseBut), b11(messungItems_), b12(Curve2Box);
    ShowText(Efrom, Text(c.from));
    ShowText(Eto, Text(c.to));
    ShowText(Esteps, Text(c.steps));
    ShowText(Sstart, Text(c.settle));
    ShowText(EPmin, Text(c.phaseMin));
    ShowText(EPmax, Text(c.phaseMax));
    ShowText(digPeg, Text(c.level));
    linearbut->setChecked(c.linear);
    logbutton->setChecked(!c.linear);
    PhaseBut->setChecked(c.phase);
    Curve2Box->setCurrentIndex(c.curve2);
    Curve2Box->setEnabled(c.phase);
    Label17->setEnabled(c.phase);
    (c.messungItem == 0 ? MessungRb0 : MessungRb1)->setChecked(true);
    Label4->setText(Text(model_.InFileLabel));
    Label4->setEnabled(model_.InFileLabelEnabled);
    Label5->setText(Text(model_.OutFileLabel));
    Label5->setEnabled(model_.OutFileLabelEnabled);
    messzeit->setText(Text(model_.MeasuringTime()));
}

void Twobbeldlg::ShowSweepDialog(const SweepSettings& record, const CorrectionCurve& in, const CorrectionCurve& out,
                                 int outputRateHz, int inputBits)
{
    model_.ShowSweepDialog(record, in, out, outputRateHz, inputBits);
    Refresh();
}

void Twobbeldlg::ReadSweepDialog(SweepSettings& record)
{
    TakeWidgets();
    model_.ReadSweepDialog(record);
    model_.ShowSweepValues();
    Refresh();
}

void Twobbeldlg::SetTexts(char language)
{
    const SweepDialogTexts* t = SweepDialogTextsFor(language);
    if (t == nullptr) {
        return;
    }
    setWindowTitle(Text(t->caption));
    label1->setText(Text(t->label1));
    Label2->setText(Text(t->label2));
    GroupBox1->setTitle(Text(t->groupBox1));
    logbutton->setText(Text(t->logbutton));
    PhaseBut->setText(Text(t->phaseBut));
    MessungRb->setTitle(Text(t->messungRb));
    MessungRb0->setText(Text(t->messungItem0));
    MessungRb1->setText(Text(t->messungItem1));
    GroupBox3->setTitle(Text(t->groupBox3));
    Label6->setText(Text(t->label6));
    Label7->setText(Text(t->label7));
    Label8->setText(Text(t->label8));
    Label17->setText(Text(t->curve2Label));
}

}  // namespace sonvera
