#include "measure/prompt.h"

#include <cstdio>

namespace sonvera {

namespace {

/// Used while no window system service is installed (command-line tool, early start).
class StderrPrompts : public PromptService {
public:
    void Show(const Prompt& prompt) override
    {
        const char* kind = prompt.kind == PromptKind::Error     ? "error"
                           : prompt.kind == PromptKind::Warning  ? "warning"
                           : prompt.kind == PromptKind::Question ? "question"
                                                                 : "note";
        std::fprintf(stderr, "%s: %s\n", kind, prompt.text.c_str());
    }
};

StderrPrompts fallbackPrompts;
PromptService* installedPrompts = nullptr;

}  // namespace

PromptService& Prompts()
{
    return installedPrompts != nullptr ? *installedPrompts : fallbackPrompts;
}

PromptService& StandardErrorPrompts()
{
    return fallbackPrompts;
}

PromptService* SetPromptService(PromptService* service)
{
    PromptService* previous = installedPrompts;
    installedPrompts = service;
    return previous;
}

void ShowErrorPrompt(const std::string& text, int helpContext)
{
    Prompts().Show(Prompt{PromptKind::Error, text, true, helpContext});
}

void ShowWarningPrompt(const std::string& text)
{
    Prompts().Show(Prompt{PromptKind::Warning, text, false, 0});
}

void ShowInformationPrompt(const std::string& text)
{
    Prompts().Show(Prompt{PromptKind::Information, text, false, 0});
}

bool AskYesNoPrompt(const std::string& text)
{
    return Prompts().Ask(Prompt{PromptKind::Question, text, false, 0});
}

PromptAnswer AskYesNoCancelPrompt(const std::string& text)
{
    return Prompts().AskWithCancel(Prompt{PromptKind::Question, text, false, 0});
}

}  // namespace sonvera
