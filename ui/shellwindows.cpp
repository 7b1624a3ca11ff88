#include "ui/shellwindows.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

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
