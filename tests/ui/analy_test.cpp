#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>
#include <memory>
#include <sstream>

#include "config/profilefile.h"
#include "tests/ui/uitestsupport.h"
#include "ui/analy.h"

namespace sonvera {
namespace {

class AnalyTest : public ::testing::Test, public CurveMessageSink {
protected:
    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
        std::ofstream(path) << "[ANALYSE]\nFVON=200\nFBIS=15000\nFUNDLOW=0.0010000\nFILTER=none\n";
        profile = std::make_unique<ProfileFile>(path);
        dialog = std::make_unique<TAnaly>(analysis, filter, loader, *profile);
    }

    void Warning(const std::string& text) override { curveWarnings.push_back(text); }

    QLineEdit* Edit(const char* name) { return dialog->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    QPushButton* Button(const char* name) { return dialog->findChild<QPushButton*>(QString::fromLatin1(name)); }

    void Fill(const char* low, const char* high, const char* fundamental, const char* threshold)
    {
        Edit("Edit1")->setText(QString::fromLatin1(low));
        Edit("Edit2")->setText(QString::fromLatin1(high));
        Edit("Edit3")->setText(QString::fromLatin1(fundamental));
        Edit("Edit4")->setText(QString::fromLatin1(threshold));
    }

    std::string LastPrompt() const { return prompts.shown.empty() ? std::string() : prompts.shown.back().text; }

    std::string FileText() const
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    QTemporaryDir dir;
    std::string path;
    std::unique_ptr<ProfileFile> profile;
    AnalysisSettings analysis;
    WeightingFilter filter;
    std::vector<std::string> curveWarnings;
    CurveFileLoader loader{*this};
    test::RecordingPrompts prompts;
    std::unique_ptr<TAnaly> dialog;
};

TEST_F(AnalyTest, ReadsItsSectionAtCreationAndFillsTheControls)
{
    EXPECT_EQ(analysis.AnaFreqLow, 200);
    EXPECT_EQ(analysis.AnaFreqHigh, 15000);
    EXPECT_EQ(Edit("Edit1")->text(), QStringLiteral("200"));
    EXPECT_EQ(Edit("Edit2")->text(), QStringLiteral("15000"));
    EXPECT_EQ(Edit("Edit3")->text(), QStringLiteral("1000"));
    EXPECT_EQ(Edit("Edit4")->text(), QStringLiteral("-60.0"));
    EXPECT_FALSE(Edit("Edit3")->isEnabled());
    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
    EXPECT_EQ(combo->count(), 18);
    EXPECT_EQ(combo->itemText(12), QStringLiteral("DEEMPH J.17"));
    EXPECT_EQ(combo->itemText(13), QStringLiteral("A (IEC 61672)"));
    EXPECT_EQ(combo->itemText(16), QStringLiteral("ITU-R 468 (2 kHz)"));
    EXPECT_EQ(combo->itemText(17), QStringLiteral("USER"));
    EXPECT_EQ(combo->currentText(), QStringLiteral("none"));
}

TEST_F(AnalyTest, TheFiveChecksReportInOrderInBothLanguages)
{
    struct Case {
        const char* low;
        const char* high;
        const char* fundamental;
        const char* threshold;
        const char* german;
        const char* english;
    };
    const Case cases[] = {
        {"x", "y", "z", "1", "Frequenz low nicht korrekt", "Frequency low not correct"},
        {"100", "1k", "z", "1", "Frequenz high nicht korrekt", "Frequency high not correct"},
        {"500", "500", "z", "1", "Frequenz high sollte größer low sein", "Frequency high must be greater then low value"},
        {"100", "20000", "1e3", "1", "Grundfrequenz nicht korrekt", "Fundamental not correct"},
        {"100", "20000", "1000", "0.5", "Pegel Schwellwert nicht korrekt", "Treshhold Value not correct"},
    };
    for (char language : {'D', 'E'}) {
        dialog->SetAnalysisTexts(language);
        for (const Case& c : cases) {
            Fill(c.low, c.high, c.fundamental, c.threshold);
            dialog->BitBtn1Click();
            EXPECT_EQ(LastPrompt(), language == 'D' ? c.german : c.english);
            EXPECT_EQ(prompts.shown.back().kind, PromptKind::Warning);
            EXPECT_EQ(dialog->result(), 0);
        }
    }
    EXPECT_EQ(analysis.AnaFreqLow, 200);  // nothing taken over from a failed check
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Analyze Dialog"));
}

TEST_F(AnalyTest, OkTakesTheValuesAndWritesTheSection)
{
    QTimer::singleShot(0, [&] {
        auto* modal = QApplication::activeModalWidget();
        ASSERT_EQ(modal, dialog.get());
        Fill("50", "16000", "997", "0");
        dialog->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->click();
        dialog->findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(1);
        Button("BitBtn1")->click();
    });
    EXPECT_EQ(dialog->ShowAnalysisDialog(), QDialog::Accepted);
    EXPECT_TRUE(prompts.shown.empty()) << LastPrompt();
    EXPECT_EQ(analysis.AnaFreqLow, 50);
    EXPECT_EQ(analysis.AnaFreqHigh, 16000);
    EXPECT_EQ(analysis.Fundamental, 997.0);
    EXPECT_FALSE(analysis.FundAuto);
    EXPECT_DOUBLE_EQ(analysis.FundThreshold, 1.0);  // 0 dB
    EXPECT_EQ(filter.AnaFilterName, analysis.AnaFilterName);
    EXPECT_NE(analysis.AnaFilterName, "none");
    const std::string text = FileText();
    EXPECT_NE(text.find("FVON=50"), std::string::npos) << text;
    EXPECT_NE(text.find("FUNDAMENTAL=997"), std::string::npos) << text;
    EXPECT_NE(text.find("FUNDAUTO=FALSE"), std::string::npos) << text;
}

TEST_F(AnalyTest, CancelKeepsTheEditsOutButTheCheckBoxClickCountsAndTheSectionIsWritten)
{
    std::ofstream(path) << "";  // an empty file: the close must write the section
    QTimer::singleShot(0, [&] {
        Fill("10", "100", "50", "-20");
        dialog->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->click();
        Button("BitBtn2")->click();
    });
    EXPECT_EQ(dialog->ShowAnalysisDialog(), QDialog::Rejected);
    EXPECT_EQ(analysis.AnaFreqLow, 200);
    EXPECT_FALSE(analysis.FundAuto);
    EXPECT_NE(FileText().find("[ANALYSE]"), std::string::npos);
    EXPECT_NE(FileText().find("FVON=200"), std::string::npos) << FileText();
}

TEST_F(AnalyTest, AUserFileIsAppliedByOkUnderItsNameAndRestoredAtTheNextStart)
{
    const std::string cor = dir.filePath(QStringLiteral("weight.cor")).toStdString();
    std::ofstream(cor) << "100 -3\n1000 0\n10000 3\n";
    dialog->chooseUserFile = [&] { return cor; };
    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
    for (bool ok : {false, true}) {
        QTimer::singleShot(0, [&] {
            combo->setCurrentIndex(17);
            dialog->ComboBox1Change(QStringLiteral("USER"));
            EXPECT_EQ(filter.AnaFilterName, "none");  // loaded, not yet applied
            Button(ok ? "BitBtn1" : "BitBtn2")->click();
        });
        dialog->ShowAnalysisDialog();
        EXPECT_EQ(filter.AnaFilterName, ok ? "USER" : "none");
        EXPECT_NEAR(filter.GainDb(100), ok ? -3.0 : 0.0, 1e-9);
    }
    EXPECT_NE(FileText().find("FILTERFILE=" + cor), std::string::npos) << FileText();
    EXPECT_TRUE(curveWarnings.empty());
    // The next start restores it from the section.
    AnalysisSettings again;
    WeightingFilter restored;
    ProfileFile reread(path);
    TAnaly second(again, restored, loader, reread);
    EXPECT_EQ(restored.UserFile(), cor);
}

TEST_F(AnalyTest, AUserFileThatIsNotChosenOrNotLoadablePutsTheListBack)
{
    const std::string cor = dir.filePath(QStringLiteral("broken.cor")).toStdString();
    std::ofstream(cor) << "100 x\n";
    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
    combo->setCurrentIndex(15);
    dialog->ComboBox1Change(combo->currentText());
    for (const std::string& chosen : {std::string(), cor}) {
        dialog->chooseUserFile = [&] { return chosen; };
        combo->setCurrentIndex(17);
        dialog->ComboBox1Change(QStringLiteral("USER"));
        EXPECT_EQ(combo->currentText(), QStringLiteral("ITU-R 468"));
    }
    EXPECT_EQ(curveWarnings, std::vector<std::string>{"Zeilenfehler in Zeile 1"});
}

}  // namespace
}  // namespace sonvera
