#include "ui/messageboxprompts.h"

#include <QMessageBox>
#include <QPushButton>

#include "ui/helpwindow.h"

namespace sonvera {

void MessageBoxPrompts::Show(const Prompt& prompt)
{
    QMessageBox box(parent_);
    box.setObjectName(QStringLiteral("PromptBox"));
    box.setWindowTitle(QStringLiteral("Sonvera"));
    box.setText(QString::fromStdString(prompt.text));
    switch (prompt.kind) {
    case PromptKind::Error: box.setIcon(QMessageBox::Critical); break;
    case PromptKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case PromptKind::Information: box.setIcon(QMessageBox::Information); break;
    }
    box.addButton(QMessageBox::Ok);
    QPushButton* help = prompt.helpButton ? box.addButton(QMessageBox::Help) : nullptr;
    box.exec();
    if (help != nullptr && box.clickedButton() == help) {
        Help().ShowContext(prompt.helpContext);
    }
}

}  // namespace sonvera
