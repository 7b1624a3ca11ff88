#pragma once

#include <functional>

#include "measure/prompt.h"

class QWidget;

namespace sonvera {

/// The program's prompt service: a modal message box with the program's title, an OK
/// button and, when asked, a Help button that opens the help page of the prompt;
/// questions get the buttons Yes and No (and Cancel where the question offers it).
class MessageBoxPrompts : public PromptService {
public:
    explicit MessageBoxPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    void Show(const Prompt& prompt) override;
    bool Ask(const Prompt& prompt) override;
    PromptAnswer AskWithCancel(const Prompt& prompt) override;
    void SetParent(QWidget* parent) { parent_ = parent; }

private:
    QWidget* parent_;
};

}  // namespace sonvera
