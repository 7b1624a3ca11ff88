#include <gtest/gtest.h>

#include <string>

#include "measure/sweepsettingsmodel.h"

namespace sonvera {
namespace {

class SweepSettingsModelTest : public ::testing::Test {
protected:
    void Open()
    {
        CorrectionCurve none;
        model.ShowSweepDialog(record, none, none, 44100, 16);
    }
    SweepSettings record;
    SweepSettingsModel model;
};

TEST_F(SweepSettingsModelTest, ShowFillsEveryControlAndTheLabels)
{
    record.SweepWithRef = false;
    record.SweepLinear = true;
    record.SweepFrom = 30;
    record.SweepTo = 15000;
    record.SweepSteps = 12;
    record.SweepSettleTime = 250;
    record.SweepPhaseMin = -45.6f;
    record.SweepPhaseMax = 90.5f;
    record.SweepLevel = -3.25f;
    CorrectionCurve in, out;
    in.fileName = "/data/in.cor";
    in.active = true;
    out.fileName = "/data/out.cor";
    model.ShowSweepDialog(record, in, out, 48000, 32);
    const SweepDialogControls& c = model.Controls;
    EXPECT_EQ(c.messungItem, 1);
    EXPECT_TRUE(c.linear);
    EXPECT_EQ(c.from, "30");
    EXPECT_EQ(c.to, "15000");
    EXPECT_EQ(c.steps, "12");
    EXPECT_EQ(c.settle, "250");
    EXPECT_EQ(c.phaseMin, "-46");
    EXPECT_EQ(c.phaseMax, "90");  // halves to even
    EXPECT_EQ(c.level, "-3.2");
    EXPECT_EQ(model.InFileLabel, "/data/in.cor");
    EXPECT_TRUE(model.InFileLabelEnabled);
    EXPECT_EQ(model.OutFileLabel, "/data/out.cor");
    EXPECT_FALSE(model.OutFileLabelEnabled);
    // 24 bits: min(65520000/144000, 65520000/384000) = min(455, 170).
    EXPECT_EQ(model.MeasuringTime(), "170ms");
}

TEST(MeasuringTimeText, BlockOf65520BytesInMilliseconds)
{
    EXPECT_EQ(MeasuringTimeText(44100, 16), "185ms");
    EXPECT_EQ(MeasuringTimeText(8000, 8), "1023ms");
    EXPECT_EQ(MeasuringTimeText(0, 16), "-ms");
}

TEST_F(SweepSettingsModelTest, FromSpinRoundsDownToTensAndNeverPassesTheEnd)
{
    record.SweepFrom = 15;
    record.SweepTo = 20000;
    Open();
    model.FromUp();
    EXPECT_EQ(model.Work().SweepFrom, 20);
    EXPECT_EQ(model.Controls.from, "20");

    record.SweepFrom = 19995;
    Open();
    model.FromUp();
    EXPECT_EQ(model.Work().SweepFrom, 20000);

    record.SweepFrom = 20000;
    Open();
    model.FromUp();  // not below the end: only rounded
    EXPECT_EQ(model.Work().SweepFrom, 20000);

    record.SweepFrom = 5;
    Open();
    model.FromDown();
    EXPECT_EQ(model.Work().SweepFrom, 1);
    model.FromUp();
    EXPECT_EQ(model.Work().SweepFrom, 10);
}

TEST_F(SweepSettingsModelTest, OtherSpinsStopAtTheirLimits)
{
    record.SweepFrom = 1000;
    record.SweepTo = 1050;
    record.SweepSteps = 1000;
    record.SweepPhaseMin = -180;
    record.SweepPhaseMax = 0;
    record.SweepSettleTime = 0;
    Open();
    model.ToDown();  // from + 100 is not below to
    EXPECT_EQ(model.Work().SweepTo, 1050);
    model.ToUp();
    EXPECT_EQ(model.Work().SweepTo, 1150);
    model.StepsUp();
    EXPECT_EQ(model.Work().SweepSteps, 1000);
    model.StepsDown();
    EXPECT_EQ(model.Work().SweepSteps, 999);
    model.PhaseMinDown();
    EXPECT_EQ(model.Work().SweepPhaseMin, -180.0f);
    model.PhaseMaxDown();
    EXPECT_EQ(model.Work().SweepPhaseMax, 0.0f);
    model.PhaseMaxUp();
    EXPECT_EQ(model.Work().SweepPhaseMax, 1.0f);
    model.SettleDown();
    EXPECT_EQ(model.Work().SweepSettleTime, 0);
    model.SettleUp();
    EXPECT_EQ(model.Controls.settle, "1");

    record.SweepTo = SweepSettingsModel::kMaxFrequency;  // 86400 Hz: 0.45 of 192000 Hz
    Open();
    model.ToUp();
    EXPECT_EQ(model.Work().SweepTo, 86400);
}

TEST_F(SweepSettingsModelTest, LevelSpinReachesOffAndZeroExactly)
{
    record.SweepLevel = -99.5f;
    Open();
    for (int i = 0; i < 8; ++i) {
        model.LevelDown();
    }
    EXPECT_EQ(model.Work().SweepLevel, -100.0f);
    EXPECT_EQ(model.Controls.level, "OFF");
    model.LevelUp();
    EXPECT_EQ(model.Controls.level, "-99.9");

    record.SweepLevel = -0.35f;
    Open();
    for (int i = 0; i < 10; ++i) {
        model.LevelUp();
    }
    EXPECT_EQ(model.Work().SweepLevel, 0.0f);
    EXPECT_EQ(model.Controls.level, "0.0");
}

TEST_F(SweepSettingsModelTest, EditsTakeOnlyReadableValuesWithinTheirRules)
{
    record.SweepFrom = 20;
    record.SweepTo = 20000;
    Open();
    model.FromChanged("0");
    EXPECT_EQ(model.Work().SweepFrom, 20);
    EXPECT_EQ(model.Controls.from, "0");
    model.FromChanged("20000");
    EXPECT_EQ(model.Work().SweepFrom, 20);
    model.FromChanged("50");
    EXPECT_EQ(model.Work().SweepFrom, 50);
    model.ToChanged("40");
    EXPECT_EQ(model.Work().SweepTo, 20000);
    model.ToChanged("abc");
    EXPECT_EQ(model.Work().SweepTo, 20000);
    model.StepsChanged("1001");
    EXPECT_EQ(model.Work().SweepSteps, 50);
    model.StepsChanged("7");
    EXPECT_EQ(model.Work().SweepSteps, 7);
    model.PhaseMinChanged("-361");
    EXPECT_EQ(model.Work().SweepPhaseMin, -180.0f);
    model.PhaseMinChanged("-300");
    EXPECT_EQ(model.Work().SweepPhaseMin, -300.0f);
    model.PhaseMaxChanged("-300");
    EXPECT_EQ(model.Work().SweepPhaseMax, 180.0f);
    model.LevelChanged("OFF");
    EXPECT_EQ(model.Work().SweepLevel, 0.0f);
    model.LevelChanged("-250.5");  // no range check while typing
    EXPECT_EQ(model.Work().SweepLevel, -250.5f);
    model.SettleChanged("250000");
    EXPECT_EQ(model.Work().SweepSettleTime, 250000);
}

TEST_F(SweepSettingsModelTest, OkClampsInTheDocumentedOrder)
{
    Open();
    model.Controls.from = "0";
    model.Controls.to = "90000";
    model.Controls.settle = "250000";
    model.Controls.level = "-250.5";
    model.Controls.phaseMin = "-400";
    model.Controls.phaseMax = "500";
    model.Controls.steps = "0";
    SweepSettings out;
    model.ReadSweepDialog(out);
    EXPECT_EQ(out.SweepFrom, 1);
    EXPECT_EQ(out.SweepTo, 86400);
    EXPECT_EQ(out.SweepSettleTime, 100000);
    EXPECT_EQ(out.SweepLevel, -200.0f);
    EXPECT_EQ(out.SweepPhaseMin, -180.0f);
    EXPECT_EQ(out.SweepPhaseMax, 180.0f);
    EXPECT_EQ(out.SweepSteps, 1);

    model.Controls.from = "30000";
    model.Controls.to = "20000";
    model.Controls.phaseMin = "50";
    model.Controls.phaseMax = "20";
    model.Controls.level = "3";
    model.Controls.settle = "-5";
    model.ReadSweepDialog(out);
    EXPECT_EQ(out.SweepFrom, 30000);
    EXPECT_EQ(out.SweepTo, 30100);
    EXPECT_EQ(out.SweepPhaseMin, 19.0f);
    EXPECT_EQ(out.SweepPhaseMax, 20.0f);
    EXPECT_EQ(out.SweepLevel, 0.0f);
    EXPECT_EQ(out.SweepSettleTime, 0);

    // Unreadable texts keep the working copy's values.
    model.Controls.from = "x";
    model.Controls.level = "OFF";
    model.ReadSweepDialog(out);
    EXPECT_EQ(out.SweepFrom, 30000);
    EXPECT_EQ(out.SweepLevel, 0.0f);
}

TEST_F(SweepSettingsModelTest, StereoClearsThePhaseMeasurementAndPhaseNeedsTheReference)
{
    record.SweepPhase = true;
    Open();
    EXPECT_TRUE(model.Controls.phase);
    model.MessungClicked(1);
    EXPECT_FALSE(model.Controls.phase);
    EXPECT_FALSE(model.Work().SweepPhase);
    model.PhaseButClicked(true);
    EXPECT_FALSE(model.Controls.phase);
    model.MessungClicked(0);
    model.PhaseButClicked(true);
    EXPECT_TRUE(model.Controls.phase);
    model.LinearClicked(true);
    SweepSettings out;
    model.ReadSweepDialog(out);
    EXPECT_TRUE(out.SweepWithRef);
    EXPECT_TRUE(out.SweepPhase);
    EXPECT_TRUE(out.SweepLinear);
}

TEST_F(SweepSettingsModelTest, DefaultResetsEverythingButTheSpacing)
{
    record.SweepLinear = true;
    record.SweepWithRef = false;
    record.SweepLevel = -20;
    Open();
    model.SweepFrames = 123;
    model.DefaultClicked();
    const SweepSettings& w = model.Work();
    EXPECT_EQ(w.SweepFrom, 10);
    EXPECT_EQ(w.SweepTo, 20000);
    EXPECT_EQ(w.SweepSteps, 50);
    EXPECT_EQ(model.SweepFrames, 8000);
    EXPECT_FALSE(w.SweepPhase);
    EXPECT_EQ(w.SweepPhaseMin, -90.0f);
    EXPECT_EQ(w.SweepPhaseMax, 90.0f);
    EXPECT_EQ(w.SweepLevel, 0.0f);
    EXPECT_EQ(w.SweepSettleTime, 100);
    EXPECT_TRUE(w.SweepWithRef);
    EXPECT_TRUE(w.SweepLinear);
    EXPECT_EQ(model.Controls.messungItem, 0);
    EXPECT_EQ(model.Controls.level, "0.0");
}

TEST(SweepDialogTexts, BothLanguagesAndOthersIgnored)
{
    ASSERT_NE(SweepDialogTextsFor('D'), nullptr);
    ASSERT_NE(SweepDialogTextsFor('E'), nullptr);
    EXPECT_EQ(SweepDialogTextsFor('F'), nullptr);
    EXPECT_EQ(SweepDialogTextsFor('D')->label1, "Frequenz von" + std::string(17, ' ') + "bis");
    EXPECT_EQ(SweepDialogTextsFor('E')->label1, "Frequency from" + std::string(16, ' ') + "to");
    EXPECT_EQ(SweepDialogTextsFor('D')->messungItem1, "Stereo, keine Ref.");
    EXPECT_EQ(SweepDialogTextsFor('E')->groupBox1, "Frequencygenerating");
}

}  // namespace
}  // namespace sonvera
