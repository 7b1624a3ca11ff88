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

    /// The program is told to end (a signal): every event loop returns, the one of a box
    /// or dialog open now too, also during the start before the main loop runs, and no
    /// box opens any more: the remaining prompts go to standard error (a question is
    /// answered No, or Cancel), since nobody is there to answer them.
    void EndSession();

private:
    QWidget* parent_;
    bool ended_ = false;
};

}  // namespace sonvera
