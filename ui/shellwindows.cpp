#include "ui/shellwindows.h"

#include <QLabel>
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
