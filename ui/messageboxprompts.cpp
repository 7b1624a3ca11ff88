#include "ui/messageboxprompts.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "ui/helpwindow.h"

namespace sonvera {

void MessageBoxPrompts::EndSession()
{
    ended_ = true;
    // exit() rather than quit(): it leaves nested loops as well (a modal box's), and
    // every loop started later returns at once, while quit() does nothing before the
    // main loop runs and waits for the windows to agree to close.
    QCoreApplication::exit(0);
}

void MessageBoxPrompts::Show(const Prompt& prompt)
{
    if (ended_) {
        StandardErrorPrompts().Show(prompt);
        return;
    }
    QMessageBox box(parent_);
    box.setObjectName(QStringLiteral("PromptBox"));
    box.setWindowTitle(QStringLiteral("Sonvera"));
    box.setText(QString::fromStdString(prompt.text));
    switch (prompt.kind) {
    case PromptKind::Error: box.setIcon(QMessageBox::Critical); break;
    case PromptKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case PromptKind::Information: box.setIcon(QMessageBox::Information); break;
    case PromptKind::Question: box.setIcon(QMessageBox::Question); break;
    }
    box.addButton(QMessageBox::Ok);
    QPushButton* help = prompt.helpButton ? box.addButton(QMessageBox::Help) : nullptr;
    box.exec();
    if (help != nullptr && box.clickedButton() == help) {
        Help().ShowContext(prompt.helpContext);
    }
}

bool MessageBoxPrompts::Ask(const Prompt& prompt)
{
    if (ended_) {
        return StandardErrorPrompts().Ask(prompt);
    }
    QMessageBox box(parent_);
    box.setObjectName(QStringLiteral("PromptBox"));
    box.setWindowTitle(QStringLiteral("Sonvera"));
    box.setText(QString::fromStdString(prompt.text));
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

PromptAnswer MessageBoxPrompts::AskWithCancel(const Prompt& prompt)
{
    if (ended_) {
        return StandardErrorPrompts().AskWithCancel(prompt);
    }
    QMessageBox box(parent_);
    box.setObjectName(QStringLiteral("PromptBox"));
    box.setWindowTitle(QStringLiteral("Sonvera"));
    box.setText(QString::fromStdString(prompt.text));
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);  // closing the box gives up nothing
    switch (box.exec()) {
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    default: return PromptAnswer::Cancel;
    }
}

}  // namespace sonvera
