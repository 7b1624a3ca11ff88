#include "diagram/diadlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>
#include <limits>

#include "diagram/diagramrenderer.h"
#include "diagram/diagramscale.h"
#include "measure/appmessages.h"

namespace sonvera {

namespace {

constexpr int kHelpContext = 16;

// The colour field of row 1..5: diagram, grid, line 1, margin, line 2.
Colour& ColourOf(DiagramOptions& o, int row)
{
    switch (row) {
    case 1:
        return o.ColDia;
    case 2:
        return o.ColGrid;
    case 3:
        return o.ColLine1;
    case 4:
        return o.ColMargin;
    default:
        return o.ColLine2;
    }
}

// A whole number in the complete text (an optional sign, no blanks).
bool ParseWhole(const QString& text, long long& value)
{
    const std::string s = text.toStdString();
    const char* begin = s.data();
    const char* end = s.data() + s.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    const auto res = std::from_chars(begin, end, value);
    return begin != end && res.ec == std::errc() && res.ptr == end;
}

// A real with "." as decimal mark in the complete text that a single-precision field can
// hold (anything larger does not parse).
bool ParseReal(const QString& text, double& value)
{
    const std::string s = text.toStdString();
    const char* begin = s.data();
    const char* end = s.data() + s.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    const auto res = std::from_chars(begin, end, value);
    return begin != end && res.ec == std::errc() && res.ptr == end && std::isfinite(value) &&
           std::fabs(value) <= std::numeric_limits<float>::max();
}

QString Fixed3(double v)
{
    return QString::fromStdString(FormatFixed(v, 3));
}

}  // namespace

Tdiadlg::Tdiadlg(QObject* receiverObject, QWidget* parent) : QDialog(parent), receiver(receiverObject)
{
    setObjectName(QStringLiteral("Tdiadlg"));
    setProperty("helpContext", kHelpContext);  // the page F1 opens
    setModal(false);
    setWindowTitle(QStringLiteral("Diagramm Optionen"));

    auto* grid = new QGridLayout;
    // Rows in the order the dialog shows them: diagram, grid, margin, line 1, line 2.
    const int shownOrder[5] = {1, 2, 4, 3, 5};
    for (int pos = 0; pos < 5; ++pos) {
        const int row = shownOrder[pos];
        const auto i = static_cast<std::size_t>(row - 1);
        labels[i] = new QLabel(this);
        labels[i]->setObjectName(QStringLiteral("Label%1").arg(row));
        shapes[i] = new QFrame(this);
        shapes[i]->setObjectName(QStringLiteral("Shape%1").arg(row));
        shapes[i]->setFrameShape(QFrame::Box);
        shapes[i]->setFixedSize(40, 18);
        shapes[i]->setAutoFillBackground(true);
        buttons[i] = new QPushButton(this);
        buttons[i]->setObjectName(QStringLiteral("Button%1").arg(row));
        grid->addWidget(labels[i], pos, 0);
        grid->addWidget(shapes[i], pos, 1);
        grid->addWidget(buttons[i], pos, 2);
        connect(buttons[i], &QPushButton::clicked, this, [this, row] { ColourButtonClick(row); });
    }
    coldefault = new QPushButton(QStringLiteral("default"), this);
    coldefault->setObjectName(QStringLiteral("coldefault"));
    grid->addWidget(coldefault, 5, 2);
    connect(coldefault, &QPushButton::clicked, this, &Tdiadlg::ColdefaultClick);

    LogDia = new QCheckBox(this);
    LogDia->setObjectName(QStringLiteral("LogDia"));
    connect(LogDia, &QCheckBox::toggled, this, [this](bool on) {
        opts.XLog = on ? 1 : 0;
        Post();
    });

    const auto makeEdit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setMaximumWidth(90);
        return e;
    };
    Label8 = new QLabel(this);
    Label8->setObjectName(QStringLiteral("Label8"));
    Edit1 = makeEdit("Edit1");
    Edit2 = makeEdit("Edit2");
    Label9 = new QLabel(this);
    Label9->setObjectName(QStringLiteral("Label9"));
    Edit3 = makeEdit("Edit3");
    Edit4 = makeEdit("Edit4");
    Label12 = new QLabel(QStringLiteral("Stepping"), this);
    Label12->setObjectName(QStringLiteral("Label12"));
    CheckBox1 = new QCheckBox(QStringLiteral("Auto"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    Edit5 = makeEdit("Edit5");
    Label13 = new QLabel(QStringLiteral("dB"), this);
    Label13->setObjectName(QStringLiteral("Label13"));
    Label14 = new QLabel(QStringLiteral("Textfile Separator"), this);
    Label14->setObjectName(QStringLiteral("Label14"));
    Edit6 = makeEdit("Edit6");
    Edit6->setMaxLength(255);

    connect(Edit1, &QLineEdit::textChanged, this, &Tdiadlg::Edit1Change);
    connect(Edit2, &QLineEdit::textChanged, this, &Tdiadlg::Edit2Change);
    connect(Edit3, &QLineEdit::textChanged, this, &Tdiadlg::Edit3Change);
    connect(Edit4, &QLineEdit::textChanged, this, &Tdiadlg::Edit4Change);
    connect(Edit5, &QLineEdit::textChanged, this, &Tdiadlg::Edit5Change);
    connect(Edit6, &QLineEdit::textChanged, this, &Tdiadlg::Edit6Change);
    connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) {
        opts.YStepAuto = on ? 1 : 0;
        Edit5->setEnabled(!on);
        Post();
    });

    MessVon = new QGroupBox(this);
    MessVon->setObjectName(QStringLiteral("MessVon"));
    auto* messLayout = new QVBoxLayout(MessVon);
    messGroup = new QButtonGroup(this);
    for (int k = 0; k < 3; ++k) {
        auto* item = new QRadioButton(MessVon);
        item->setObjectName(QStringLiteral("MessVon%1").arg(k));
        messItems[static_cast<std::size_t>(k)] = item;
        messGroup->addButton(item, k);
        messLayout->addWidget(item);
        connect(item, &QRadioButton::toggled, this, [this](bool on) {
            if (on) {
                MessVonClick();
            }
        });
    }

    CloseBut = new QPushButton(QStringLiteral("close"), this);
    CloseBut->setObjectName(QStringLiteral("CloseBut"));
    connect(CloseBut, &QPushButton::clicked, this, [this] {
        hide();
        Post();  // like every other handler of the dialog
    });
    BitBtn1 = new QPushButton(QStringLiteral("?"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        if (showHelp) {
            showHelp(kHelpContext);
        }
    });

    auto* right = new QGridLayout;
    int r = 0;
    right->addWidget(LogDia, r++, 0, 1, 3);
    right->addWidget(Label8, r++, 0, 1, 3);
    right->addWidget(new QLabel(QStringLiteral("min"), this), r, 0);
    right->addWidget(Edit1, r, 1);
    right->addWidget(new QLabel(QStringLiteral("max"), this), r, 2);
    right->addWidget(Edit2, r++, 3);
    FreqRefusal = new QLabel(this);
    FreqRefusal->setObjectName(QStringLiteral("FreqRefusal"));
    FreqRefusal->setWordWrap(true);
    FreqRefusal->hide();
    right->addWidget(FreqRefusal, r++, 0, 1, 4);
    right->addWidget(Label9, r++, 0, 1, 3);
    right->addWidget(new QLabel(QStringLiteral("min"), this), r, 0);
    right->addWidget(Edit3, r, 1);
    right->addWidget(new QLabel(QStringLiteral("max"), this), r, 2);
    right->addWidget(Edit4, r++, 3);
    right->addWidget(Label12, r, 0);
    right->addWidget(CheckBox1, r, 1);
    right->addWidget(Edit5, r, 2);
    right->addWidget(Label13, r++, 3);
    right->addWidget(Label14, r, 0, 1, 2);
    right->addWidget(Edit6, r++, 2);

    auto* top = new QHBoxLayout;
    top->addLayout(grid);
    top->addLayout(right);
    top->addWidget(MessVon);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(BitBtn1);
    bottom->addWidget(CloseBut);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(bottom);

    pickColour = [this](Colour current) -> std::optional<Colour> {
        const QColor c = QColorDialog::getColor(QColor(ToQRgb(current)), this);
        if (!c.isValid()) {
            return std::nullopt;
        }
        return FromQRgb(c.rgb());
    };

    SetOptionsTexts('D');
    FillShapes();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void Tdiadlg::Post()
{
    if (receiver != nullptr) {
        PostAppMessage(receiver, WM_DIAGRAM_OPTIONS);
    }
}

void Tdiadlg::FillShapes()
{
    for (int row = 1; row <= 5; ++row) {
        QFrame* shape = shapes[static_cast<std::size_t>(row - 1)];
        QPalette pal = shape->palette();
        pal.setColor(QPalette::Window, QColor(ToQRgb(ColourOf(opts, row))));
        shape->setPalette(pal);
    }
}

void Tdiadlg::LoadOptionsDialog(const DiagramOptions& options)
{
    opts = options;
    FillShapes();
    // The last set measuring flag wins; selecting an item runs its handler.
    const bool level = opts.CursorLevel != 0;
    const bool freq = opts.CursorFreq != 0;
    const bool slope = opts.CursorSlope != 0;
    if (level) {
        messItems[0]->setChecked(true);
    }
    if (freq) {
        messItems[1]->setChecked(true);
    }
    if (slope) {
        messItems[2]->setChecked(true);
    }
    LogDia->setChecked(opts.XLog != 0);
    const DiagramOptions shown = opts;  // the handlers below may refuse intermediate values
    Edit1->setText(QString::number(shown.FreqMin));
    Edit2->setText(QString::number(shown.FreqMax));
    Edit3->setText(Fixed3(shown.LevelMin));
    Edit4->setText(Fixed3(shown.LevelMax));
    Edit5->setText(Fixed3(shown.YStep));
    CheckBox1->setChecked(opts.YStepAuto != 0);
    Edit5->setEnabled(opts.YStepAuto == 0);
    Edit6->setText(QString::fromStdString(opts.Separator));
}

void Tdiadlg::ColourButtonClick(int row)
{
    if (!pickColour) {
        return;
    }
    const std::optional<Colour> chosen = pickColour(ColourOf(opts, row));
    if (!chosen) {
        return;  // cancelled: nothing changes, nothing is posted
    }
    ColourOf(opts, row) = *chosen & 0x00FFFFFFu;
    FillShapes();
    Post();
}

void Tdiadlg::ColdefaultClick()
{
    opts.ColDia = 0xFFFF00;
    opts.ColGrid = 0x00FFFF;
    opts.ColLine1 = 0xFF0000;
    opts.ColLine2 = 0x0000FF;
    opts.ColMargin = 0xC0C0C0;
    FillShapes();
    Post();
}

void Tdiadlg::MessVonClick()
{
    opts.CursorLevel = messItems[0]->isChecked() ? 1 : 0;
    opts.CursorFreq = messItems[1]->isChecked() ? 1 : 0;
    opts.CursorSlope = messItems[2]->isChecked() ? 1 : 0;
    Post();
}

void Tdiadlg::Edit1Change()
{
    long long v = 0;
    if (!ParseWhole(Edit1->text(), v)) {
        return;
    }
    if (v > 0 && v <= 50000 && v < opts.FreqMax) {
        opts.FreqMin = static_cast<std::int32_t>(v);
    }
    Post();
}

void Tdiadlg::Edit2Change()
{
    long long v = 0;
    if (!ParseWhole(Edit2->text(), v)) {
        return;
    }
    if (v > 0 && v <= 50000 && v > opts.FreqMin) {
        opts.FreqMax = static_cast<std::int32_t>(v);
    }
    Post();
}

void Tdiadlg::Edit3Change()
{
    double v = 0.0;
    if (!ParseReal(Edit3->text(), v)) {
        return;
    }
    if (v < opts.LevelMax) {
        opts.LevelMin = static_cast<float>(v);
    }
    Post();
}

void Tdiadlg::Edit4Change()
{
    double v = 0.0;
    if (!ParseReal(Edit4->text(), v)) {
        return;
    }
    if (v > opts.LevelMin) {
        opts.LevelMax = static_cast<float>(v);
    }
    Post();
}

void Tdiadlg::Edit5Change()
{
    double v = 0.0;
    if (!ParseReal(Edit5->text(), v)) {
        return;
    }
    opts.YStep = static_cast<float>(v);
    Post();
}

void Tdiadlg::Edit6Change()
{
    opts.Separator = Edit6->text().left(255).toStdString();
    Post();
}

void Tdiadlg::SetOptionsTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    const bool de = language == 'D';
    setWindowTitle(de ? QStringLiteral("Diagramm Optionen") : QStringLiteral("Diagram options"));
    const char* de5[5] = {"Diagrammfarbe", "Gitterfarbe", "Kurve 1", "Randfarbe", "Kurve 2"};
    const char* en5[5] = {"Diagram colour", "Grid colour", "Line 1", "Margin  colour", "Line 2"};
    for (std::size_t i = 0; i < 5; ++i) {
        labels[i]->setText(QString::fromUtf8(de ? de5[i] : en5[i]));
        buttons[i]->setText(de ? QStringLiteral("\u00e4ndern") : QStringLiteral("change"));
    }
    LogDia->setText(de ? QStringLiteral("log. Diagramm") : QStringLiteral("log. diagram"));
    Label8->setText(de ? QStringLiteral("Frequenz in Hz") : QStringLiteral("Frequency in Hz"));
    Label9->setText(de ? QStringLiteral("Pegel in dB") : QStringLiteral("Level in dB"));
    MessVon->setTitle(de ? QStringLiteral("Messen von") : QStringLiteral("Meas. of"));
    messItems[0]->setText(de ? QStringLiteral("Pegel") : QStringLiteral("Level"));
    messItems[1]->setText(de ? QStringLiteral("Frequenz") : QStringLiteral("Frequency"));
    messItems[2]->setText(de ? QStringLiteral("Flanken") : QStringLiteral("Steepness"));
}

void Tdiadlg::SetFreqBoundsRefusal(const std::string& why)
{
    for (QWidget* w : {static_cast<QWidget*>(LogDia), static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Edit2)}) {
        w->setEnabled(why.empty());
    }
    FreqRefusal->setText(QString::fromStdString(why));
    FreqRefusal->setVisible(!why.empty());
}

}  // namespace sonvera
