#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "diagram/diagramm.h"
#include "dsp/curve.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/ui/uitestsupport.h"
#include "ui/koredit.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST(StepFrequency, LogarithmicStepsToTheNearestHertz)
{
    EXPECT_EQ(StepFrequency(1, 28000, 1000, 0), 1);
    EXPECT_EQ(StepFrequency(1, 28000, 1000, 1), 1);  // 28000^0.001 = 1.0103
    EXPECT_EQ(StepFrequency(1, 28000, 1000, 500), 167);  // sqrt(28000) = 167.33
    EXPECT_EQ(StepFrequency(1, 28000, 1000, 1000), 28000);
    EXPECT_EQ(StepFrequency(20, 20000, 3, 1), 200);
    EXPECT_EQ(StepFrequency(0, 28000, 1000, 5), 333);
    EXPECT_EQ(StepFrequency(1, 28000, 0, 5), 333);
}

/// The program on the virtual card with the correction menu driven through its items.
class CorrectionMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        Restart();
    }

    /// Ends the program (if it still runs, without questions) and starts it again on the
    /// same configuration.
    void Restart()
    {
        program.reset();
        program = std::make_unique<SonveraProgram>(card, ConfigPath());
        ASSERT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
        program->Diagram()->activateWindow();
        test::ProcessUntil([&] { return program->Diagram()->Model().Activated(); }, 200);
    }

    std::string ConfigPath() { return dir.filePath(QStringLiteral("snv13.cfg")).toStdString(); }
    TMainForm& Main() { return program->Main(); }
    ShellState& State() { return program->State(); }
    QAction* Item(const char* name) { return Main().findChild<QAction*>(QString::fromLatin1(name)); }
    QString Coract() { return Main().findChild<QLabel*>(QStringLiteral("coract"))->text(); }
    TKorEdit& Editor() { return *program->Windows().korEdit; }
    std::string Path(const char* name) { return dir.filePath(QString::fromLatin1(name)).toStdString(); }

    /// Triggers `item`; the open dialog that appears picks `file` (empty: cancel).
    void Pick(const char* item, const std::string& file)
    {
        bool seen = false;
        int tries = 0;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = dynamic_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible()) {
                if (++tries > 400) poll.stop();  // none came: the check below fails
                return;
            }
            if (!seen) {
                seen = true;
                EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("cor"));
                EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Correction File (*.cor)")});
            }
            if (file.empty()) {
                dialog->reject();
                return;
            }
            // Typed into the name field, as a user does.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(file));
            static_cast<QDialog*>(dialog)->accept();  // runs the file dialog's own checks
        });
        poll.start();
        Item(item)->trigger();
        poll.stop();
        EXPECT_TRUE(seen) << "no open dialog";
    }

    void Type(const char* text)  // replaces the editor's text as typing does
    {
        Editor().Memo()->setPlainText(QString::fromUtf8(text));
        TypeKey(Qt::Key_End);
    }

    void TypeKey(Qt::Key key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(Editor().Memo(), &press);
    }

    QTemporaryDir dir;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(CorrectionMenuTest, SevenItemsWithTwoSeparators)
{
    auto* menu = Main().findChild<QMenu*>(QStringLiteral("Korrektur1"));
    ASSERT_NE(menu, nullptr);
    QStringList names;
    for (QAction* a : menu->actions()) {
        names << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    }
    EXPECT_EQ(names, (QStringList{"LadeEingangskorrekturdatei1", "Eingangskorrekturaktiv1",
                                  "EditEingangskorrekturdatei1", "-", "LadeAusgangskorrekturdatei1",
                                  "Ausgangskorrekturaktiv1", "EditAusgangskorrekturdatei1", "-",
                                  "Testekorrekturdatei1"}));
    EXPECT_EQ(Item("EditEingangskorrekturdatei1")->text(), QStringLiteral("Bearbeite Eingangskorrekturdatei"));
}

TEST_F(CorrectionMenuTest, SwitchingOnWithoutAFileLeavesItOff)
{
    Item("Eingangskorrekturaktiv1")->trigger();
    EXPECT_FALSE(State().InCorrection.active);
    EXPECT_FALSE(Item("Eingangskorrekturaktiv1")->isChecked());
    EXPECT_FALSE(Main().AppSettings().Main.InCorrActive);
    EXPECT_EQ(Coract(), QStringLiteral("."));
}

TEST_F(CorrectionMenuTest, LoadingAMissingFileCreatesItWithOnePointAndSwitchesItOn)
{
    const std::string file = Path("new.cor");
    Pick("LadeEingangskorrekturdatei1", file);
    EXPECT_EQ(ReadFile(file), "1000 0\n");
    EXPECT_EQ(State().InCorrection.fileName, file);
    EXPECT_EQ(State().InCorrection.count, 1);
    EXPECT_TRUE(State().InCorrection.active);
    EXPECT_TRUE(Item("Eingangskorrekturaktiv1")->isChecked());
    EXPECT_TRUE(Main().AppSettings().Main.InCorrActive);
    EXPECT_EQ(Coract(), QStringLiteral("Korrektur aktiv"));

    // Toggling switches it off and on again now that a file is loaded.
    Item("Eingangskorrekturaktiv1")->trigger();
    EXPECT_FALSE(State().InCorrection.active);
    EXPECT_EQ(Coract(), QStringLiteral("."));
    Item("Eingangskorrekturaktiv1")->trigger();
    EXPECT_TRUE(State().InCorrection.active);
}

TEST_F(CorrectionMenuTest, ACancelledLoadChangesNothingAndABadFileIsReportedByTheLoaderOnly)
{
    Pick("LadeAusgangskorrekturdatei1", "");
    EXPECT_TRUE(State().OutCorrection.fileName.empty());
    EXPECT_TRUE(prompts.shown.empty());

    const std::string bad = Path("bad.cor");
    WriteFile(bad, "100 1\nnot a number\n");
    Pick("LadeAusgangskorrekturdatei1", bad);
    EXPECT_FALSE(State().OutCorrection.active);
    EXPECT_FALSE(Item("Ausgangskorrekturaktiv1")->isChecked());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(Coract(), QStringLiteral("."));
}

TEST_F(CorrectionMenuTest, TestDrawsBothCurvesAtAThousandLogarithmicPoints)
{
    const std::string in = Path("in.cor");
    const std::string out = Path("out.cor");
    WriteFile(in, "100 3\n1000 0\n10000 -3\n");
    WriteFile(out, "20 1\n20000 2\n");
    Pick("LadeEingangskorrekturdatei1", in);
    Pick("LadeAusgangskorrekturdatei1", out);
    Item("Testekorrekturdatei1")->trigger();

    const DiagramModel& m = program->Diagram()->Model();
    EXPECT_EQ(m.GetLastIndex(), 1000);
    EXPECT_EQ(m.ResultLine(), "Korrektur Kurve von " + in + " & " + out);
    EXPECT_TRUE(m.Options.DrawCurve1);
    EXPECT_TRUE(m.Options.DrawCurve2);
    EXPECT_FLOAT_EQ(m.Level2Min, m.LevelMin);
    EXPECT_FLOAT_EQ(m.Level2Max, m.LevelMax);
    for (int i : {1, 250, 500, 750, 1000}) {
        const double f = std::lround(std::pow(28000.0, i / 1000.0));
        const auto k = static_cast<std::size_t>(i);
        EXPECT_FLOAT_EQ(m.FreqArray[k], static_cast<float>(f)) << i;
        EXPECT_NEAR(m.Curve1Array[k], EvalCurve(State().InCorrection, f), 1e-4) << i;
        EXPECT_NEAR(m.Curve2Array[k], EvalCurve(State().OutCorrection, f), 1e-4) << i;
    }
}

TEST_F(CorrectionMenuTest, WithOnlyTheOutputActiveTheResultLineStartsWithTheJoiner)
{
    Main().ApplyLanguage('E');
    const std::string out = Path("out.cor");
    WriteFile(out, "20 1\n20000 2\n");
    Pick("LadeAusgangskorrekturdatei1", out);
    Item("Testekorrekturdatei1")->trigger();
    const DiagramModel& m = program->Diagram()->Model();
    EXPECT_EQ(m.ResultLine(), "Correction curve of  & " + out);
    EXPECT_FLOAT_EQ(m.Curve1Array[500], 0.0f);  // the inactive input curve gives 0 dB
    EXPECT_EQ(Coract(), QStringLiteral("Correction active"));
}

// ---- Editor ------------------------------------------------------------------------------------

TEST_F(CorrectionMenuTest, EditOpensTheFileInTheEditorWithItsNameInTheCaption)
{
    const std::string file = Path("edit.cor");
    WriteFile(file, "100 3\n1000 0\n");
    Pick("LadeEingangskorrekturdatei1", file);
    Item("Eingangskorrekturaktiv1")->trigger();  // off
    Item("EditEingangskorrekturdatei1")->trigger();
    EXPECT_TRUE(Editor().isVisible());
    EXPECT_EQ(Editor().EditedCurve(), &State().InCorrection);
    EXPECT_EQ(Editor().Memo()->toPlainText().toStdString(), "100 3\n1000 0\n");
    EXPECT_FALSE(Editor().Memo()->tabChangesFocus());  // tab characters go into the text
    EXPECT_EQ(Editor().windowTitle().toStdString(), "Editor Korrekturdatei: " + file);
    EXPECT_TRUE(State().InCorrection.active);  // editing switches it on
    EXPECT_TRUE(Item("Eingangskorrekturaktiv1")->isChecked());
    auto* test = Editor().findChild<QAction*>(QStringLiteral("test"));
    ASSERT_NE(test, nullptr);
    EXPECT_EQ(test->text(), QStringLiteral("Save &Test"));  // shown as "Save Test" with T underlined

    // The language routine sets the plain caption; activation brings back the German prefix.
    Main().ApplyLanguage('E');
    EXPECT_EQ(Editor().windowTitle(), QStringLiteral("Editor correction file"));
    Editor().FormActivate();
    EXPECT_EQ(Editor().windowTitle().toStdString(), "Editor Korrekturdatei: " + file);
    Editor().close();
}

TEST_F(CorrectionMenuTest, EditWithoutAFileLoadsFirstAndACancelOpensNothing)
{
    Pick("EditAusgangskorrekturdatei1", "");
    EXPECT_FALSE(Editor().isVisible());
    EXPECT_EQ(Coract(), QStringLiteral("."));

    const std::string file = Path("fresh.cor");
    Pick("EditAusgangskorrekturdatei1", file);
    EXPECT_TRUE(Editor().isVisible());
    EXPECT_EQ(Editor().EditedCurve(), &State().OutCorrection);
    EXPECT_EQ(Editor().Memo()->toPlainText(), QStringLiteral("1000 0\n"));
    Editor().close();
}

TEST_F(CorrectionMenuTest, SaveAndTestWritesReloadsSwitchesOnAndDraws)
{
    const std::string file = Path("e.cor");
    Pick("EditEingangskorrekturdatei1", file);
    Editor().Memo()->setPlainText(QStringLiteral("100 6\n10000 -6\n"));
    TypeKey(Qt::Key_End);
    ASSERT_TRUE(Editor().EditorModified());
    Item("Eingangskorrekturaktiv1")->trigger();  // off; the save switches it on again
    Editor().findChild<QAction*>(QStringLiteral("test"))->trigger();

    EXPECT_FALSE(Editor().EditorModified());
    EXPECT_EQ(ReadFile(file), "100 6\n10000 -6\n");
    EXPECT_EQ(State().InCorrection.count, 2);
    EXPECT_TRUE(State().InCorrection.active);
    EXPECT_EQ(Coract(), QStringLiteral("Korrektur aktiv"));
    const DiagramModel& m = program->Diagram()->Model();
    EXPECT_EQ(m.ResultLine(), "Korrektur Kurve von " + file);
    EXPECT_EQ(m.GetLastIndex(), 1000);
    EXPECT_NEAR(m.Curve1Array[1000], EvalCurve(State().InCorrection, 28000.0), 1e-4);
    // Two points make a straight line: 28000^0.667 = 925.1 Hz lies at 6 - 12 * 825 / 9900 dB.
    EXPECT_FLOAT_EQ(m.FreqArray[667], 925.0f);
    EXPECT_NEAR(m.Curve1Array[667], 6.0 - 12.0 * 825.0 / 9900.0, 1e-4);
    Editor().close();
    EXPECT_TRUE(prompts.shown.empty());  // saved: no question
}

TEST(CorrectionEditor, SavingKeepsTheBytesOfASingleByteFileAndOfAUtf8File)
{
    test::App();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CorrectionCurve curve;
    curve.fileName = dir.filePath(QStringLiteral("remark.cor")).toStdString();
    TKorEdit editor;
    // An older file with a Latin-1 umlaut in its remark line, and the same in UTF-8.
    const std::string latinBytes = "Pegel f\xfcr Eingang\n100 1\n1000 2\n";
    const std::string utf8Bytes = "Pegel f\xc3\xbcr Eingang\n100 1\n1000 2\n";
    const QString shown = QString::fromUtf8("Pegel f\u00fcr Eingang\n100 1\n1000 2\n");
    for (const std::string& bytes : {latinBytes, utf8Bytes}) {
        WriteFile(curve.fileName, bytes);
        ASSERT_TRUE(editor.EditCurve(curve));
        EXPECT_EQ(editor.Memo()->toPlainText(), shown);
        ASSERT_TRUE(editor.testClick());
        EXPECT_EQ(ReadFile(curve.fileName), bytes);
    }
    editor.close();
}

TEST_F(CorrectionMenuTest, ClosingAfterTypingAsksOnceAndNoKeepsTheFileAndCurve)
{
    const std::string file = Path("keep.cor");
    WriteFile(file, "100 1\n1000 2\n");
    Pick("EditEingangskorrekturdatei1", file);
    Editor().Memo()->setPlainText(QStringLiteral("100 9\n"));
    TypeKey(Qt::Key_Left);  // a key that changes nothing still counts
    prompts.answer = false;
    Editor().close();
    EXPECT_FALSE(Editor().isVisible());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Question);
    EXPECT_EQ(prompts.shown[0].text, "Korrekturwerte wurden verändert ! Speichern ?");
    EXPECT_EQ(ReadFile(file), "100 1\n1000 2\n");
    EXPECT_EQ(State().InCorrection.count, 2);
    EXPECT_NEAR(EvalCurve(State().InCorrection, 1000.0), 2.0, 1e-9);
}

TEST_F(CorrectionMenuTest, ClosingAfterTypingAndAnsweringYesSaves)
{
    Main().ApplyLanguage('E');
    const std::string file = Path("yes.cor");
    Pick("EditAusgangskorrekturdatei1", file);
    Editor().Memo()->setPlainText(QStringLiteral("50 -1\n5000 1\n"));
    TypeKey(Qt::Key_A);
    prompts.answer = true;
    Editor().close();
    EXPECT_FALSE(Editor().isVisible());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Values changed ! Saving ?");
    EXPECT_EQ(ReadFile(file), "50 -1\n5000 1\n");
    EXPECT_EQ(State().OutCorrection.count, 2);
    EXPECT_TRUE(State().OutCorrection.active);
}

TEST_F(CorrectionMenuTest, ASaveThatFailsKeepsTheEditorOpenWithItsText)
{
    const std::string file = Path("gone.cor");
    Pick("EditEingangskorrekturdatei1", file);
    // The file's place is taken by a directory: it cannot be written any more.
    ASSERT_TRUE(QDir().remove(QString::fromStdString(file)));
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(file)));
    Editor().Memo()->setPlainText(QStringLiteral("200 4\n"));
    TypeKey(Qt::Key_A);
    prompts.answer = true;
    Editor().close();
    EXPECT_TRUE(Editor().isVisible());
    EXPECT_TRUE(Editor().EditorModified());
    EXPECT_EQ(Editor().Memo()->toPlainText(), QStringLiteral("200 4\n"));
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[1].kind, PromptKind::Warning);
    EXPECT_NE(prompts.shown[1].text.find(file), std::string::npos);
    // Answering No gives the typing up and closes.
    prompts.answer = false;
    Editor().close();
    EXPECT_FALSE(Editor().isVisible());
}

// ---- What is kept, and the editor's file -------------------------------------------------------

TEST_F(CorrectionMenuTest, TheFileInForceComesBackAtTheNextStartAndABrokenOneIsOffAndRepairedInTheEditor)
{
    const std::string a = Path("a.cor");
    WriteFile(a, "100 1\n1000 2\n");
    Pick("LadeEingangskorrekturdatei1", a);
    Main().close();
    program.reset();  // the program's end writes the configuration, once
    // A file beside the configuration is kept by its bare name (a portable folder stays so).
    EXPECT_NE(ReadFile(ConfigPath()).find("INCONAME=a.cor\nOUTCONAME=\nINCOAKT=TRUE\n"), std::string::npos);
    WriteFile(a, "100 1\n\nx 2\n");  // broken before the next start
    Restart();
    EXPECT_EQ(prompts.shown.at(0).text, "Zeilenfehler in Zeile 3");
    EXPECT_FALSE(Item("Eingangskorrekturaktiv1")->isChecked());
    EXPECT_EQ(Coract(), QStringLiteral("."));
    Item("EditEingangskorrekturdatei1")->trigger();  // opens the file that does not load
    Type("100 1\n1000 x\n");
    Editor().findChild<QAction*>(QStringLiteral("test"))->trigger();
    EXPECT_EQ(prompts.shown.back().text, "Zeilenfehler in Zeile 2");
    Type("100 1\n1000 5\n");  // still on its file: the repair saves there
    Editor().findChild<QAction*>(QStringLiteral("test"))->trigger();
    EXPECT_EQ(ReadFile(a), "100 1\n1000 5\n");
    EXPECT_EQ(Coract(), QStringLiteral("Korrektur aktiv"));
    Editor().close();
}

TEST_F(CorrectionMenuTest, AnEnglishStartReportsABrokenFileInEnglish)
{
    WriteFile(Path("b.cor"), "x 1\n");
    program.reset();
    WriteFile(ConfigPath(), "[MAIN]\nSPRACHE=E\nINCONAME=b.cor\nINCOAKT=TRUE\n");
    prompts.shown.clear();
    Restart();
    ASSERT_FALSE(prompts.shown.empty());
    EXPECT_EQ(prompts.shown.at(0).text, "Line error in line 1");
}

TEST_F(CorrectionMenuTest, TheEditorSavesToTheFileItOpenedAndALoadIntoItsCurveAsksFirst)
{
    const std::string a = Path("a.cor"), b = Path("b.cor");
    WriteFile(a, "100 1\n1000 2\n");
    WriteFile(b, "100 3\n1000 4\n");
    Pick("EditEingangskorrekturdatei1", a);
    Type("100 5\n1000 6\n");
    prompts.choice = PromptAnswer::Cancel;
    Pick("LadeEingangskorrekturdatei1", b);
    EXPECT_EQ(State().InCorrection.fileName, a);  // nothing loaded, the typing stays
    prompts.choice = PromptAnswer::No;
    Pick("LadeEingangskorrekturdatei1", b);
    Editor().findChild<QAction*>(QStringLiteral("test"))->trigger();
    EXPECT_EQ(ReadFile(a), "100 1\n1000 2\n");
    EXPECT_EQ(ReadFile(b), "100 3\n1000 4\n");
    EXPECT_EQ(prompts.shown.size(), 2u);
    Editor().close();
}

TEST_F(CorrectionMenuTest, ClosingTheProgramWithUnsavedTextAsksFirstAndEachAnswerHolds)
{
    const std::string file = Path("shut.cor");
    for (const PromptAnswer answer : {PromptAnswer::Cancel, PromptAnswer::No, PromptAnswer::Yes}) {
        program.reset();
        WriteFile(file, "1000 0\n");
        QFile::remove(QString::fromStdString(ConfigPath()));  // Edit then asks for the file
        Restart();
        Pick("EditEingangskorrekturdatei1", file);
        Type("100 7\n1000 8\n");
        prompts.choice = answer;
        Main().close();
        // Cancel: nothing was shut down, the page still runs.
        EXPECT_EQ(Main().Spectrum().SpectrumPageActive, answer == PromptAnswer::Cancel);
        EXPECT_EQ(ReadFile(file), answer == PromptAnswer::Yes ? "100 7\n1000 8\n" : "1000 0\n");
    }
}

}  // namespace
}  // namespace sonvera
