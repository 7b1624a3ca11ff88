#pragma once
// Helpers of the window tests: one QApplication for the process, a prompt service that
// records instead of showing, and event processing with a bound.

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>

#include <functional>
#include <vector>

#include "measure/prompt.h"

namespace sonvera::test {

inline QApplication& App()
{
    static int argc = 1;
    static char name[] = "sonvera-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

/// Records every prompt and returns at once.
class RecordingPrompts : public PromptService {
public:
    RecordingPrompts() { previous_ = SetPromptService(this); }
    ~RecordingPrompts() override { SetPromptService(previous_); }
    void Show(const Prompt& p) override { shown.push_back(p); }
    /// Records the question and gives `answer`.
    bool Ask(const Prompt& p) override
    {
        shown.push_back(p);
        return answer;
    }
    /// Records the question and gives `choice`.
    PromptAnswer AskWithCancel(const Prompt& p) override
    {
        shown.push_back(p);
        return choice;
    }
    std::vector<Prompt> shown;
    bool answer = false;
    PromptAnswer choice = PromptAnswer::Cancel;

private:
    PromptService* previous_ = nullptr;
};

/// Processes events until done() holds or maxRounds rounds have passed; returns done().
inline bool ProcessUntil(const std::function<bool()>& done, int maxRounds = 2000)
{
    for (int i = 0; i < maxRounds && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return done();
}

inline void ProcessEvents(int rounds = 20)
{
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

}  // namespace sonvera::test
