#include "ui/shellwindows.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/profilefile.h"
#include "config/sections.h"

namespace sonvera {

ShellDialog::ShellDialog(const char* className, const char* caption, QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::fromLatin1(className));
    setWindowTitle(QString::fromUtf8(caption));
}

void ShellDialog::SetTexts(char language)
{
    if (language == 'D' || language == 'E') {
        language_ = language;
    }
}

TFeatDlg::TFeatDlg(QWidget* parent) : ShellDialog("TFeatDlg", "Featureliste", parent)
{
    report_ = new QPlainTextEdit(this);
    report_->setObjectName(QStringLiteral("Memo1"));
    report_->setReadOnly(true);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKBtn"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(report_);
    layout->addWidget(ok);
    resize(480, 360);
}

void TFeatDlg::SetReport(const std::string& text)
{
    report_->setPlainText(QString::fromStdString(text));
}

void TFeatDlg::SetTexts(char language)
{
    ShellDialog::SetTexts(language);
    if (language == 'D') {
        setWindowTitle(QStringLiteral("Featureliste"));
    } else if (language == 'E') {
        setWindowTitle(QStringLiteral("Features"));
    }
}

TWavegen::TWavegen(GeneratorSettings& settings, ProfileFile& profile, QWidget* parent)
    : QWidget(parent, Qt::Tool), settings_(settings), profile_(profile)
{
    setObjectName(QStringLiteral("TWavegen"));
    setWindowTitle(QStringLiteral("Generator"));
    resize(250, 190);
    auto* note = new QLabel(QStringLiteral("Generator"), this);
    note->setObjectName(QStringLiteral("GenCaption"));
    note->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    ReadGeneratorSection(profile_, settings_);
}

TWavegen::~TWavegen()
{
    WriteGeneratorSection(profile_, settings_);
}

void TWavegen::SetGeneratorTexts(char language)
{
    if (language == 'D') {
        errorPrefix_ = "Fehler bei Frequenzausgabe (";
    } else if (language == 'E') {
        errorPrefix_ = "Error at frequency output (";
    }
}

void TWavegen::SetStayOnTop(bool onTop)
{
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible) {
        show();  // changing the flags hides a window
    }
}

TAboutBox::TAboutBox(QWidget* parent) : ShellDialog("TAboutBox", "Info", parent)
{
    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("Comments"));
    text_->setAlignment(Qt::AlignCenter);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(ok);
    SetTexts('D');
}

void TAboutBox::SetTexts(char language)
{
    ShellDialog::SetTexts(language);
    if (language == 'D') {
        setWindowTitle(QStringLiteral("Info"));
        text_->setText(QStringLiteral("<b>Sonvera V 1.3</b><br><br>Messprogramm für die Soundkarte:<br>"
                                      "Spektrumanalyser, Frequenzgenerator, Wobbeln, Oszilloskop"));
    } else if (language == 'E') {
        setWindowTitle(QStringLiteral("About"));
        text_->setText(QStringLiteral("<b>Sonvera V 1.3</b><br><br>Measuring program for the sound card:<br>"
                                      "spectrum analyzer, frequency generator, sweep, oscilloscope"));
    }
}

}  // namespace sonvera
