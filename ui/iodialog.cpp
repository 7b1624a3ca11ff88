#include "ui/iodialog.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <string>

#include "engine/soundengine.h"

namespace sonvera {

namespace {

constexpr int kColumnX[3] = {110, 160, 210};
constexpr int kFirstRowY = 44;
constexpr int kRowPitch = 22;

const char* const kRowNames[TIOdialog::kRowCount] = {"8", "11", "22", "32", "44", "48", "88", "96", "176", "192", "u"};
// Below the rows: the swap check box, then the buttons.
constexpr int kCheckBoxY = kFirstRowY + TIOdialog::kRowCount * kRowPitch + 4;
constexpr int kButtonY = kCheckBoxY + 36;

/// Unchecks a radio button, also one that its siblings keep exclusive.
void Uncheck(QRadioButton* button)
{
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
}

QLabel* Caption(QWidget* parent, const QString& text, int x, int y, int w)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, 20);
    return label;
}

}  // namespace

TIOdialog::TIOdialog(SoundEngine& engine, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      engine_(engine)
{
    setObjectName(QStringLiteral("TIOdialog"));
    setProperty("helpContext", kHelpContext);  // the page F1 opens
    setWindowTitle(QStringLiteral("Wave input options"));
    setFixedSize(360, kButtonY + 40);

    Caption(this, QStringLiteral("Sample rate"), 10, 4, 90)->setObjectName(QStringLiteral("Label1"));
    Caption(this, QStringLiteral("Bits/Sample"), kColumnX[0], 4, 140)->setObjectName(QStringLiteral("Label2"));
    for (int c = 0; c < 3; ++c) {
        Caption(this, QString::number(kBits[static_cast<std::size_t>(c)]), kColumnX[c], 22, 40);
    }
    for (int r = 0; r < kRowCount; ++r) {
        const int y = kFirstRowY + r * kRowPitch;
        Caption(this, r < kUserRow ? QString::number(kRates[static_cast<std::size_t>(r)]) + QStringLiteral(" Hz")
                                   : QStringLiteral("User"),
                10, y, 70);
    }
    const int userY = kFirstRowY + kUserRow * kRowPitch;
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(48, userY, 52, 20);
    Edit1->setFrame(false);
    Edit1->setStyleSheet(QStringLiteral("background: yellow"));
    Caption(this, QStringLiteral("Hz"), 260, userY, 30);

    // The thirty-two grouped buttons share one plain container; the 8-bit user button stands
    // on a small panel of its own beside it: it is no member of their group and may stay
    // checked beside one of them.
    auto* grid = new QWidget(this);
    grid->setObjectName(QStringLiteral("Grid"));
    grid->setGeometry(0, 0, width(), kCheckBoxY - 2);
    grid->lower();  // below the captions and the user rate field
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setGeometry(kColumnX[0] - 4, userY - 2, 28, 24);

    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < kRowCount; ++r) {
            const bool own = c == 0 && r == kUserRow;
            auto* b = new QRadioButton(own ? static_cast<QWidget*>(panel) : grid);
            const std::string name = std::string("b") + kRowNames[r] + std::to_string(kBits[static_cast<std::size_t>(c)]);
            b->setObjectName(QString::fromStdString(name));
            if (own) {
                b->setGeometry(4, 2, 20, 20);
            } else {
                b->setGeometry(kColumnX[c], kFirstRowY + r * kRowPitch, 20, 20);
            }
            buttons_[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)] = b;
        }
    }

    CheckBox1 = new QCheckBox(this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(10, kCheckBoxY, 300, 20);

    auto button = [this](const char* name, const char* text, int x) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, kButtonY, 90, 28);
        b->setAutoDefault(false);
        return b;
    };
    BitBtn1 = button("BitBtn1", "OK", 20);
    BitBtn1->setDefault(true);
    BitBtn2 = button("BitBtn2", "Abort", 130);
    BitBtn3 = button("BitBtn3", "Help", 240);
    connect(BitBtn1, &QPushButton::clicked, this, &TIOdialog::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn3, &QPushButton::clicked, this, [this] {
        if (helpHandler_) {
            helpHandler_(kHelpContext);
        }
    });
    connect(Edit1, &QLineEdit::textEdited, this, &TIOdialog::Edit1Change);
    SetTexts('D');
}

QRadioButton* TIOdialog::Button(int column, int row) const
{
    if (column < 0 || column > 2 || row < 0 || row >= kRowCount) {
        return nullptr;
    }
    return buttons_[static_cast<std::size_t>(column)][static_cast<std::size_t>(row)];
}

void TIOdialog::SetTexts(char language)
{
    if (language == 'D') {
        CheckBox1->setText(QString::fromUtf8("vertausche Kanäle"));
    } else if (language == 'E') {
        CheckBox1->setText(QStringLiteral("change channels"));
    }
}

void TIOdialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormActivate();
}

void TIOdialog::FormActivate()
{
    setWindowTitle(input_ ? QStringLiteral("Wave input options") : QStringLiteral("Wave output options"));
    bool swapIn = false, swapOut = false;
    engine_.GetSwapFlags(swapIn, swapOut);
    int rateIn = 0, rateOut = 0, bitsIn = 0, bitsOut = 0, userIn = 0, userOut = 0;
    engine_.GetSampleRates(rateIn, rateOut);
    engine_.GetFormatBits(bitsIn, bitsOut);
    engine_.GetUserRates(userIn, userOut);
    CheckBox1->setChecked(input_ ? swapIn : swapOut);
    rate_ = input_ ? rateIn : rateOut;
    bits_ = input_ ? bitsIn : bitsOut;
    userRate_ = input_ ? userIn : userOut;
    {
        const QSignalBlocker block(Edit1);
        Edit1->setText(QString::number(userRate_));
    }

    bool checked = false;
    for (int c = 0; c < 3; ++c) {
        const int bits = kBits[static_cast<std::size_t>(c)];
        for (int r = 0; r < kRowCount; ++r) {
            QRadioButton* b = Button(c, r);
            b->setEnabled(RateAllowed(RowRate(r)) && engine_.QueryFormat(RowRate(r), bits, input_));
            Uncheck(b);
            if (!checked && RowRate(r) == rate_ && bits == bits_) {
                b->setChecked(true);
                checked = true;
            }
        }
    }
}

void TIOdialog::EnableUserButtons()
{
    for (int c = 0; c < 3; ++c) {
        QRadioButton* b = Button(c, kUserRow);
        b->setEnabled(RateAllowed(userRate_) && engine_.QueryFormat(userRate_, kBits[static_cast<std::size_t>(c)], input_));
        Uncheck(b);
    }
}

void TIOdialog::Edit1Change(const QString& text)
{
    bool whole = false;
    const int rate = text.trimmed().toInt(&whole);
    if (!whole) {
        return;
    }
    userRate_ = rate;
    EnableUserButtons();
}

void TIOdialog::BitBtn1Click()
{
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < kRowCount; ++r) {
            if (Button(c, r)->isChecked()) {
                rate_ = RowRate(r);
                bits_ = kBits[static_cast<std::size_t>(c)];
            }
        }
    }
    // The other direction keeps its values: zero rates and depths are not stored, and
    // the swap flag of the other direction is written back as it was.
    bool swapIn = false, swapOut = false;
    engine_.GetSwapFlags(swapIn, swapOut);
    if (input_) {
        engine_.SetSwapFlags(CheckBox1->isChecked(), swapOut);
        engine_.SetSampleRates(rate_, 0);
        engine_.SetFormatBits(bits_, 0);
        engine_.SetUserRates(userRate_, 0);
    } else {
        engine_.SetSwapFlags(swapIn, CheckBox1->isChecked());
        engine_.SetSampleRates(0, rate_);
        engine_.SetFormatBits(0, bits_);
        engine_.SetUserRates(0, userRate_);
    }
    accept();
}

}  // namespace sonvera
