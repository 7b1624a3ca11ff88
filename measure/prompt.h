#pragma once
// Every message box of the program goes through one service, so the windows and runs
// never open a box themselves and tests can replace the service and read the texts.

#include <string>

namespace sonvera {

/// The icon and role of a message box.
enum class PromptKind {
    Error,        // device errors, fatal start-up problems
    Warning,      // input errors in dialogs, diagram refusals
    Information,  // notices (the help language notice)
    Question,     // a question answered with Yes or No
};

/// The answer to a question offering Yes, No and Cancel.
enum class PromptAnswer { Yes, No, Cancel };

/// One message box: its text, its kind and whether it offers a Help button (then
/// `helpContext` names the help page that button opens).
struct Prompt {
    PromptKind kind = PromptKind::Warning;
    std::string text;
    bool helpButton = false;
    int helpContext = 0;
};

/// Shows message boxes. The program installs a modal message box implementation;
/// tests install one that records the prompts and returns at once.
class PromptService {
public:
    virtual ~PromptService() = default;
    /// Shows the prompt and returns when the user has closed it.
    virtual void Show(const Prompt& prompt) = 0;
    /// Asks a question with the buttons Yes and No; returns true for Yes. Services
    /// without a user show the text and answer No.
    virtual bool Ask(const Prompt& prompt)
    {
        Show(prompt);
        return false;
    }
    /// Asks a question with the buttons Yes, No and Cancel. Services without a user show
    /// the text and answer Cancel, so nothing is given up unasked.
    virtual PromptAnswer AskWithCancel(const Prompt& prompt)
    {
        Show(prompt);
        return PromptAnswer::Cancel;
    }
};

/// The installed service. Without one, prompts are written to standard error.
PromptService& Prompts();

/// The service that writes prompts to standard error (in force while none is installed):
/// a question is answered No, or Cancel where it offers one.
PromptService& StandardErrorPrompts();

/// Installs `service` (nullptr: back to standard error) and returns the one it replaces.
/// The caller keeps ownership.
PromptService* SetPromptService(PromptService* service);

/// Shorthands for the usual boxes.
void ShowErrorPrompt(const std::string& text, int helpContext);
void ShowWarningPrompt(const std::string& text);
void ShowInformationPrompt(const std::string& text);
/// A question with Yes and No; true for Yes.
bool AskYesNoPrompt(const std::string& text);
/// A question with Yes, No and Cancel.
PromptAnswer AskYesNoCancelPrompt(const std::string& text);

}  // namespace sonvera
