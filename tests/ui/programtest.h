#pragma once
// The fixture of the window tests that drive the whole program: the program on the
// virtual card's instant clock, its configuration in a fresh folder, prompts recorded.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

#include "config/settings.h"
#include "platform/loopbackcard.h"
#include "tests/ui/uitestsupport.h"
#include "ui/mainform.h"
#include "ui/sonveraprogram.h"

namespace sonvera::test {

class ProgramTest : public ::testing::Test {
protected:
    /// Settings to change after the start, before the windows show.
    virtual void Configure(Settings&) {}

    void SetUp() override
    {
        App();
        ASSERT_TRUE(dir.isValid());
        program = std::make_unique<SonveraProgram>(card, dir.filePath(QStringLiteral("snv13.cfg")).toStdString());
        ASSERT_EQ(program->Start(), 0);
        Configure(program->Main().AppSettings());
        program->Show();
        ProcessEvents();
    }

    TMainForm& Main() { return program->Main(); }

    QTemporaryDir dir;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

}  // namespace sonvera::test
