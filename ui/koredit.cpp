#include "ui/koredit.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStringDecoder>

#include <fstream>
#include <sstream>

#include "config/profilefile.h"
#include "dsp/curve.h"
#include "measure/prompt.h"

namespace sonvera {

namespace {

// The prefix of the caption while a file is open; the same in both languages.
constexpr const char* kCaptionPrefix = "Editor Korrekturdatei: ";

}  // namespace

TKorEdit::TKorEdit(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("TKorEdit"));
    resize(447, 533);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setTabChangesFocus(false);  // tab characters go into the text
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->installEventFilter(this);
    setCentralWidget(Memo1);

    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    // "&T" underlines the T and makes Alt+T save and test.
    test = menuBar()->addAction(QStringLiteral("Save &Test"));
    test->setObjectName(QStringLiteral("test"));
    connect(test, &QAction::triggered, this, [this] { testClick(); });
    SetTexts('D');
}

void TKorEdit::SetTexts(char language)
{
    if (language == 'D') {
        setWindowTitle(QStringLiteral("Editor Korrekturdatei"));
        question_ = "Korrekturwerte wurden verändert ! Speichern ?";
        writeFailure_ = " konnte nicht gespeichert werden";
    } else if (language == 'E') {
        setWindowTitle(QStringLiteral("Editor correction file"));
        question_ = "Values changed ! Saving ?";
        writeFailure_ = " could not be saved";
    }
}

bool TKorEdit::EditCurve(CorrectionCurve& curve)
{
    if (modified_ && isVisible() && curve_ == &curve && fileName_ == curve.fileName) {
        raise();  // already open with typing: it stays as it is
        activateWindow();
        return true;
    }
    // Unsaved typing in the file open so far is asked about before it is replaced.
    if (!AskAboutUnsavedText()) {
        return false;
    }
    std::ifstream in(curve.fileName, std::ios::binary);
    if (!in) {
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    const std::string bytes = text.str();
    // A file that is not UTF-8 (an older single-byte one) is shown byte for byte and
    // written back the same way, so saving never alters characters the user left alone.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString shown = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    singleByte_ = utf8.hasError();
    if (singleByte_) {
        shown = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    curve_ = &curve;
    fileName_ = curve.fileName;
    Memo1->setPlainText(shown);
    modified_ = false;
    show();
    raise();
    activateWindow();
    FormActivate();
    return true;
}

void TKorEdit::FormActivate()
{
    if (!fileName_.empty()) {
        setWindowTitle(QString::fromUtf8(kCaptionPrefix) + QString::fromStdString(fileName_));
    }
}

bool TKorEdit::testClick()
{
    // Always the file the editor opened: the curve may have been given another file
    // since, or lost its points to a line error.
    if (curve_ == nullptr || fileName_.empty()) {
        return false;
    }
    const std::string fileName = fileName_;
    {
        const QString text = Memo1->toPlainText();
        const QByteArray bytes = singleByte_ ? text.toLatin1() : text.toUtf8();
        // Replaced in one step (a temporary file beside it, then a rename): a full disk
        // or a failing write leaves the file as it was instead of cut short.
        if (!ReplaceFileAtomically(fileName, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
            // The text stays in the editor, still marked as changed.
            ShowWarningPrompt(fileName + writeFailure_);
            return false;
        }
    }
    modified_ = false;
    if (onSaved_) {
        onSaved_(*curve_, fileName);
    }
    return true;
}

bool TKorEdit::FormCloseQuery()
{
    if (!modified_) {
        return true;
    }
    if (!AskYesNoPrompt(question_)) {
        modified_ = false;  // answered No: the typing is given up
        return true;
    }
    // A save that fails keeps the window open, so the text is not lost.
    return testClick();
}

bool TKorEdit::AskAboutUnsavedText()
{
    if (!modified_) {
        return true;
    }
    switch (AskYesNoCancelPrompt(question_)) {
    case PromptAnswer::Yes:
        return testClick();  // a failed save keeps the text and says no
    case PromptAnswer::No:
        modified_ = false;
        return true;
    case PromptAnswer::Cancel:
        break;
    }
    return false;
}

bool TKorEdit::eventFilter(QObject* watched, QEvent* event)
{
    // Any key sets the flag, also one that changes nothing. Only loading and saving clear
    // it: coming back into the text area must not make unsaved typing look saved.
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        modified_ = true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TKorEdit::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        FormActivate();
    }
    return QMainWindow::event(event);
}

void TKorEdit::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery()) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace sonvera
