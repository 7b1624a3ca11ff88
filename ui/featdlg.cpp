#include "ui/featdlg.h"

#include <QFontDatabase>
#include <QListWidget>
#include <QPushButton>

#include <fstream>

namespace sonvera {

namespace {

constexpr int kRowHeight = 15;

}  // namespace

TFeatDlg::TFeatDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("TFeatDlg"));
    setProperty("helpContext", kHelpContext);  // the page F1 opens
    setFixedSize(520, 400);

    SrcList = new QListWidget(this);
    SrcList->setObjectName(QStringLiteral("SrcList"));
    SrcList->setGeometry(8, 8, 504, 340);
    SrcList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    SrcList->setUniformItemSizes(true);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    SrcList->setFont(fixed);

    auto button = [this](const char* name, const QString& text, int x) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, 360, 90, 28);
        b->setAutoDefault(false);
        return b;
    };
    OKBtn = button("OKBtn", QStringLiteral("OK"), 120);
    OKBtn->setDefault(true);
    Button1 = button("Button1", QStringLiteral("Save"), 215);
    HelpBtn = button("HelpBtn", QStringLiteral("Help"), 310);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, &TFeatDlg::Button1Click);
    connect(HelpBtn, &QPushButton::clicked, this, [this] {
        if (helpHandler_) {
            helpHandler_(kHelpContext);
        }
    });
    SetTexts('D');
}

void TFeatDlg::SetReportLines(const std::vector<std::string>& lines)
{
    SrcList->clear();
    for (const std::string& line : lines) {
        auto* row = new QListWidgetItem(QString::fromStdString(line), SrcList);
        row->setSizeHint(QSize(0, kRowHeight));
    }
}

std::vector<std::string> TFeatDlg::ReportLines() const
{
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(SrcList->count()));
    for (int i = 0; i < SrcList->count(); ++i) {
        lines.push_back(SrcList->item(i)->text().toStdString());
    }
    return lines;
}

void TFeatDlg::SetTexts(char language)
{
    if (language == 'D') {
        setWindowTitle(QStringLiteral("Feature Liste"));
    } else if (language == 'E') {
        setWindowTitle(QStringLiteral("Feature list"));
    } else {
        return;
    }
    language_ = language;
}

bool TFeatDlg::SaveRows(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    for (const std::string& line : ReportLines()) {
        out << line << "\r\n";
    }
    out.close();
    return !out.fail();
}

void TFeatDlg::Button1Click()
{
    // The list is only a copy of the report: a file that cannot be written loses
    // nothing, and the dialog stays open as it was.
    (void)SaveRows(kFileName);
}

}  // namespace sonvera
