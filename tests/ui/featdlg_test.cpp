#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFontInfo>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/ui/uitestsupport.h"
#include "ui/featdlg.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

std::string ReadBytes(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Runs the test body with a temporary directory as the current directory.
class FeatureListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
    }
    void TearDown() override { QDir::setCurrent(previous); }

    QString FilePath() const { return dir.filePath(QStringLiteral("featlist.txt")); }

    QTemporaryDir dir;
    QString previous;
    test::RecordingPrompts prompts;
};

TEST_F(FeatureListTest, RowsAreTheReportLinesInAFixedPitchFontWithSeveralSelectable)
{
    TFeatDlg dialog;
    dialog.SetReportLines({"WaveInNumDevs  : 1", "", "  indented"});
    auto* list = dialog.findChild<QListWidget*>(QStringLiteral("SrcList"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(1)->text(), QString());
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("  indented"));
    EXPECT_TRUE(QFontInfo(list->font()).fixedPitch());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    // A new report replaces the rows.
    dialog.SetReportLines({"one"});
    EXPECT_EQ(dialog.ReportLines(), std::vector<std::string>{"one"});
}

TEST_F(FeatureListTest, CaptionFollowsTheLanguageAndOtherLettersChangeNothing)
{
    TFeatDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Feature Liste"));
    dialog.SetTexts('E');
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Feature list"));
    dialog.SetTexts('X');
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Feature list"));
    EXPECT_EQ(dialog.Language(), 'E');
    dialog.SetTexts('D');
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Feature Liste"));
    // "Save" is the same in both languages.
    EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("Button1"))->text(), QStringLiteral("Save"));
}

TEST_F(FeatureListTest, SaveWritesEveryRowWithCarriageReturnAndLineFeedAndOverwrites)
{
    TFeatDlg dialog;
    dialog.SetReportLines({"first", "", "Wave-In Formats   00000FFF"});
    dialog.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    EXPECT_EQ(ReadBytes(FilePath()), "first\r\n\r\nWave-In Formats   00000FFF\r\n");

    // The second save replaces the file, also when it is shorter.
    dialog.SetReportLines({"x"});
    dialog.Button1Click();
    EXPECT_EQ(ReadBytes(FilePath()), "x\r\n");
}

TEST_F(FeatureListTest, AFileThatCannotBeWrittenIsPassedOverSilently)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("featlist.txt")));  // a directory in its way
    TFeatDlg dialog;
    dialog.SetReportLines({"line"});
    EXPECT_FALSE(dialog.SaveRows("featlist.txt"));
    dialog.Button1Click();
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(dialog.ReportLines(), std::vector<std::string>{"line"});
}

TEST_F(FeatureListTest, HelpButtonAsksForItsPage)
{
    TFeatDlg dialog;
    int asked = 0;
    dialog.SetHelpHandler([&](int context) { asked = context; });
    dialog.findChild<QPushButton*>(QStringLiteral("HelpBtn"))->click();
    EXPECT_EQ(asked, 11);
}

TEST_F(FeatureListTest, EveryOpeningShowsTheReportAsItStandsThen)
{
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    auto program = std::make_unique<SonveraProgram>(card, dir.filePath(QStringLiteral("snv13.cfg")).toStdString());
    ASSERT_EQ(program->Start(), 0);
    program->Show();
    test::ProcessEvents();

    std::vector<std::string> shown;
    auto open = [&] {
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<TFeatDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            shown = dialog->ReportLines();
            dialog->accept();
        });
        program->Main().ShowFeaturelist1Click();
    };
    open();
    EXPECT_EQ(shown, program->Engine().DeviceReport());
    ASSERT_GT(shown.size(), 4u);
    EXPECT_EQ(shown[1], "WaveInNumDevs  : 1");

    const std::size_t before = shown.size();
    program->Engine().AppendReport("");
    program->Engine().AppendReport("Printer: test");
    open();
    ASSERT_EQ(shown.size(), before + 2);
    EXPECT_EQ(shown[before], "");
    EXPECT_EQ(shown[before + 1], "Printer: test");
}

}  // namespace
}  // namespace sonvera
