#include <gtest/gtest.h>

#include "tests/support/tempdir.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QThread>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "config/numberformat.h"
#include "diagram/diadlg.h"
#include "diagram/diagramm.h"
#include "diagram/diagramrenderer.h"
#include "diagram/overlaydlg.h"
#include "measure/appmessages.h"

using namespace sonvera;

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "diagramwindow_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics go away at exit in an order of their own.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Stands in for the diagram window: records the dialog's record at every message.
class Recorder : public QObject {
public:
    Tdiadlg* dialog = nullptr;
    std::vector<DiagramOptions> seen;

protected:
    bool event(QEvent* e) override
    {
        if (AppMessageOf(e) == WM_DIAGRAM_OPTIONS) {
            seen.push_back(dialog->FetchOptions());
            return true;
        }
        return QObject::event(e);
    }
};

void Type(QWidget* w, int key, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &press);
    QCoreApplication::processEvents();
}

DiagramOptions Defaults()
{
    DiagramOptions o;
    o.FreqMin = 100;
    o.FreqMax = 28000;
    o.LevelMin = -110;
    o.LevelMax = 0;
    return o;
}

class DiagramDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        recorder.dialog = &dialog;
        dialog.LoadOptionsDialog(Defaults());
        QCoreApplication::processEvents();
        recorder.seen.clear();
    }
    template <typename T>
    T* Find(const char* name)
    {
        T* w = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    bool appReady = (App(), true);  // widgets need the application first
    Recorder recorder;
    Tdiadlg dialog{&recorder};
};

}  // namespace

TEST_F(DiagramDialogTest, LoadShowsTheRecordWithThreeDecimals)
{
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "100");
    EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), "28000");
    EXPECT_EQ(Find<QLineEdit>("Edit3")->text(), "-110.000");
    EXPECT_EQ(Find<QLineEdit>("Edit4")->text(), "0.000");
    EXPECT_EQ(Find<QLineEdit>("Edit5")->text(), "5.000");
    EXPECT_EQ(Find<QLineEdit>("Edit6")->text(), ",");
    EXPECT_TRUE(Find<QCheckBox>("LogDia")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_FALSE(Find<QLineEdit>("Edit5")->isEnabled());
    EXPECT_TRUE(Find<QRadioButton>("MessVon0")->isChecked());
}

TEST_F(DiagramDialogTest, TypingAFrequencyDigitByDigitAppliesEveryAcceptedValue)
{
    QLineEdit* edit = Find<QLineEdit>("Edit2");
    edit->selectAll();
    Type(edit, Qt::Key_Backspace);  // empty text: nothing posted
    EXPECT_TRUE(recorder.seen.empty());
    for (QChar c : QStringLiteral("20000")) {
        Type(edit, Qt::Key_0 + (c.unicode() - '0'), QString(c));
    }
    ASSERT_EQ(recorder.seen.size(), 5u);
    const int expected[5] = {28000, 28000, 200, 2000, 20000};  // 2 and 20 are not above 100
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(recorder.seen[i].FreqMax, expected[i]) << i;
        EXPECT_EQ(recorder.seen[i].FreqMin, 100);
    }
}

TEST_F(DiagramDialogTest, FrequencyAndLevelEditsRefuseValuesOutsideTheirRules)
{
    QLineEdit* fmin = Find<QLineEdit>("Edit1");
    fmin->setText("");
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.seen.empty());
    // Each message carries the record as it is when the message is handled.
    for (const char* text : {"30000", "0", "abc", "20"}) {  // 30000, 0 refused; abc no number
        fmin->setText(QString::fromLatin1(text));
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(recorder.seen.size(), 3u);
    EXPECT_EQ(recorder.seen[0].FreqMin, 100);
    EXPECT_EQ(recorder.seen[2].FreqMin, 20);

    Find<QLineEdit>("Edit3")->setText("5");  // not below LevelMax 0
    Find<QLineEdit>("Edit4")->setText("-120.5");  // not above LevelMin
    Find<QLineEdit>("Edit4")->setText("12.25");
    Find<QLineEdit>("Edit5")->setText("0");  // any step is taken
    QCoreApplication::processEvents();
    const DiagramOptions o = dialog.FetchOptions();
    EXPECT_EQ(o.LevelMin, -110.0f);
    EXPECT_EQ(o.LevelMax, 12.25f);
    EXPECT_EQ(o.YStep, 0.0f);
}

TEST_F(DiagramDialogTest, LevelsAndStepsBeyondSinglePrecisionDoNotParse)
{
    Find<QLineEdit>("Edit4")->setText("1e300");
    Find<QLineEdit>("Edit3")->setText("-1e39");
    Find<QLineEdit>("Edit5")->setText("4e38");
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.seen.empty());
    const DiagramOptions o = dialog.FetchOptions();
    EXPECT_EQ(o.LevelMax, 0.0f);
    EXPECT_EQ(o.LevelMin, -110.0f);
    EXPECT_EQ(o.YStep, 5.0f);

    Find<QLineEdit>("Edit4")->setText("1e3");  // an exponent within range is a number
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].LevelMax, 1000.0f);
}

TEST_F(DiagramDialogTest, ColoursDefaultsAndPicker)
{
    Find<QPushButton>("coldefault")->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].ColLine1, 16711680u);
    EXPECT_EQ(recorder.seen[0].ColLine2, 255u);
    EXPECT_EQ(recorder.seen[0].ColDia, 0xFFFF00u);
    EXPECT_EQ(Find<QWidget>("Shape3")->palette().color(QPalette::Window).rgb() & 0xFFFFFF, 0x0000FFu);

    dialog.pickColour = [](Colour) { return std::optional<Colour>(); };
    Find<QPushButton>("Button4")->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder.seen.size(), 1u);  // cancelled: nothing posted
    dialog.pickColour = [](Colour) { return std::optional<Colour>(0x123456); };
    Find<QPushButton>("Button4")->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.seen.size(), 2u);
    EXPECT_EQ(recorder.seen[1].ColMargin, 0x123456u);
}

TEST_F(DiagramDialogTest, CloseHidesTheDialogAndPostsItsRecord)
{
    dialog.show();
    Find<QPushButton>("CloseBut")->click();
    EXPECT_FALSE(dialog.isVisible());
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].FreqMax, 28000);
}

TEST_F(DiagramDialogTest, MeasuringKindStepAutoAndTexts)
{
    Find<QRadioButton>("MessVon2")->setChecked(true);
    const DiagramOptions o = dialog.FetchOptions();
    EXPECT_EQ(o.CursorSlope, 1);
    EXPECT_EQ(o.CursorLevel, 0);
    EXPECT_EQ(o.CursorFreq, 0);
    Find<QCheckBox>("CheckBox1")->setChecked(false);
    EXPECT_TRUE(Find<QLineEdit>("Edit5")->isEnabled());
    EXPECT_EQ(dialog.FetchOptions().YStepAuto, 0);
    Find<QLineEdit>("Edit6")->setText("\\t");
    EXPECT_EQ(dialog.FetchOptions().Separator, "\\t");

    dialog.SetOptionsTexts('E');
    EXPECT_EQ(dialog.windowTitle(), "Diagram options");
    EXPECT_EQ(Find<QLabel>("Label4")->text(), "Margin  colour");
    EXPECT_EQ(Find<QRadioButton>("MessVon2")->text(), "Steepness");
    dialog.SetOptionsTexts('X');
    EXPECT_EQ(dialog.windowTitle(), "Diagram options");
    dialog.SetOptionsTexts('D');
    EXPECT_EQ(Find<QPushButton>("Button1")->text(), QString::fromUtf8("\u00e4ndern"));
    EXPECT_EQ(Find<QLabel>("Label4")->text(), "Randfarbe");
}

namespace {

class DiagramWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        config = scratch.File("snv13.cfg");
        window = std::make_unique<TDiagramm>(config);
    }
    void TearDown() override
    {
        window.reset();
    }
    void Activate()
    {
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(window.get(), &activate);
        float lo = -110;
        float hi = 0;
        ASSERT_FALSE(window->PrepareDiagram("Kommentar:", 511, 10, 28000, lo, hi));
    }
    template <typename T>
    T* Find(const char* name)
    {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    sonvera::testing::TempDir scratch;
    std::string config;
    std::unique_ptr<TDiagramm> window;
};

}  // namespace

TEST_F(DiagramWindowTest, LayoutWaitsForTheFirstActivationThenPlacesTheControls)
{
    EXPECT_EQ(window->windowTitle(), "Sonvera V 1.3 ");
    float lo = -110;
    float hi = 0;
    EXPECT_TRUE(window->PrepareDiagram("", 50, 10, 28000, lo, hi));  // never activated
    Activate();
    const DiagramLayout& g = window->Model().Layout();
    EXPECT_EQ(g.width, 580);
    EXPECT_EQ(Find<QWidget>("SpinButton1")->geometry(), QRect(1, 1, g.leftBand * 2 / 3, g.CharHeight));
    EXPECT_EQ(Find<QWidget>("SpinButton2")->y(), 370 - g.CharHeight);
    EXPECT_EQ(Find<QScrollBar>("ScrollBarHF")->geometry(), QRect(580 - 26, 370 - g.CharHeight, 26, g.CharHeight));
    EXPECT_EQ(Find<QScrollBar>("ScrollBarLF")->x(), 1 + g.leftBand * 2 / 3 + 2);
    EXPECT_EQ(Find<QLineEdit>("Edicomment")->text(), "Kommentar:");
    EXPECT_EQ(Find<QLineEdit>("Edicomment")->x(), g.PlotRect.left);

    window->show();
    window->resize(100, 50);  // enlarged to the smallest useful size
    QCoreApplication::processEvents();
    EXPECT_GE(window->width(), 170);
    EXPECT_GE(window->height(), 120);
}

TEST_F(DiagramWindowTest, SpinButtonsAndScrollBarsMoveTheBounds)
{
    Activate();
    Find<QWidget>("SpinButton1")->findChild<QToolButton*>("up")->click();
    EXPECT_EQ(window->Model().LevelMax, 20.0f);
    Find<QWidget>("SpinButton2")->findChild<QToolButton*>("up")->click();
    EXPECT_EQ(window->Model().LevelMin, -100.0f);  // s = NiceStep(13) = 20
    Find<QScrollBar>("ScrollBarLF")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(window->Model().FreqMin, 20);
    Find<QScrollBar>("ScrollBarHF")->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(window->Model().FreqMax, 27500);
    Find<QScrollBar>("ScrollBarHF")->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(window->Model().FreqMax, 27500);
    // The open dialog follows.
    QCoreApplication::processEvents();
    EXPECT_EQ(window->OptionsDialog().findChild<QLineEdit*>("Edit2")->text(), "27500");
    EXPECT_EQ(window->OptionsDialog().findChild<QLineEdit*>("Edit4")->text(), "20.000");
}

TEST_F(DiagramWindowTest, OptionChangesReachTheDiagramByMessage)
{
    Activate();
    int colourCalls = 0;
    window->onCurveColours = [&](Colour, Colour) { ++colourCalls; };
    window->OptionsDialog().LoadOptionsDialog(window->Model().Options);
    window->OptionsDialog().findChild<QLineEdit*>("Edit1")->setText("100");
    EXPECT_EQ(window->Model().FreqMin, 10);  // posted, not yet handled
    QCoreApplication::processEvents();
    EXPECT_EQ(window->Model().FreqMin, 100);
    EXPECT_GT(colourCalls, 0);
    window->OptionsDialog().findChild<QCheckBox*>("LogDia")->setChecked(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->Model().Options.XLog, 0);
}

TEST_F(DiagramWindowTest, RightClickEndsTheMeasurementAndOpensTheDialog)
{
    Activate();
    const DiagramRect r = window->Model().Layout().PlotRect;
    const QPointF at(r.left + 50, r.top + 50);
    QMouseEvent down(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent up(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &down);
    QCoreApplication::sendEvent(window.get(), &up);
    EXPECT_TRUE(window->Model().MeasureActive);
    EXPECT_EQ(window->Model().CursorMode, 4);
    QMouseEvent rdown(QEvent::MouseButtonPress, at, at, Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QMouseEvent rup(QEvent::MouseButtonRelease, at, at, Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &rdown);
    QCoreApplication::sendEvent(window.get(), &rup);
    EXPECT_FALSE(window->Model().MeasureActive);
    EXPECT_EQ(window->Model().CursorMode, 0);
    EXPECT_TRUE(window->OptionsDialog().isVisible());
    window->OptionsDialog().hide();
}

TEST_F(DiagramWindowTest, PaintIsOneOpaqueCopyOfTheDiagram)
{
    Activate();
    EXPECT_TRUE(window->testAttribute(Qt::WA_OpaquePaintEvent));
    const QImage shot = window->grab().toImage();
    const DiagramRect r = window->Model().Layout().PlotRect;
    EXPECT_EQ(shot.pixel(r.left + 3, r.top + 3) & 0xFFFFFF, 0x00FFFFu);  // aqua plot
    EXPECT_EQ(shot.pixel(r.right + 3, r.bottom - 3) & 0xFFFFFF, 0xC0C0C0u);  // margin

    QImage printed;
    EXPECT_TRUE(window->RenderForPrint(printed, 1200, 900, 12));
    EXPECT_EQ(printed.width(), 1200);
    EXPECT_EQ(window->Model().Layout().width, 580);  // the screen is laid out again
}

TEST_F(DiagramWindowTest, ClearedPointsAreRepainted)
{
    Activate();
    window->show();
    QCoreApplication::processEvents();
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            paints += e->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    window->installEventFilter(&counter);
    // Let the paints of showing the window go by until a round passes without one.
    for (int round = 0; round < 50; ++round) {
        counter.paints = 0;
        QThread::msleep(10);
        QCoreApplication::processEvents();
        if (counter.paints == 0) {
            break;
        }
    }
    ASSERT_EQ(counter.paints, 0);
    window->Model().ClearDiagramData();
    QCoreApplication::processEvents();
    EXPECT_GT(counter.paints, 0);
    window->removeEventFilter(&counter);
}

TEST_F(DiagramWindowTest, NewPointsAndResultsRepaintOnlyWhatChanged)
{
    Activate();
    window->show();
    struct PaintRecorder : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) {
                painted += static_cast<QPaintEvent*>(e)->region();
            }
            return false;
        }
    } recorder;
    const auto settle = [&] {
        for (int round = 0; round < 50; ++round) {
            recorder.painted = QRegion();
            QThread::msleep(10);
            QCoreApplication::processEvents();
            if (recorder.painted.isEmpty()) {
                return;
            }
        }
    };
    QCoreApplication::processEvents();
    window->installEventFilter(&recorder);
    settle();
    const float v[2] = {-60, -70};
    window->Model().StoreDiagramPoint(v, 2, 0, 1000.0f);
    window->Model().StoreDiagramPoint(v, 2, 1, 1100.0f);
    window->RepaintCurves();
    QCoreApplication::processEvents();
    // Around the short line from 1 to 1.1 kHz at -60 and -70 dB only.
    const DiagramRect r = window->Model().Layout().PlotRect;
    const QRect painted = recorder.painted.boundingRect();
    EXPECT_FALSE(painted.isEmpty());
    EXPECT_GT(painted.top(), r.top);
    EXPECT_LT(painted.bottom(), r.bottom);
    EXPECT_LT(painted.width(), (r.right - r.left) / 4);
    settle();
    window->SetResultLine("THD+N: 0.01 %");  // the line repaints itself alone
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.painted.isEmpty());
    window->removeEventFilter(&recorder);
}

TEST_F(DiagramWindowTest, DestroySavesTheOptions)
{
    Activate();
    window->OptionsDialog().LoadOptionsDialog(window->Model().Options);
    window->OptionsDialog().findChild<QPushButton*>("coldefault")->click();
    QCoreApplication::processEvents();
    window.reset();
    std::ifstream in(config);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("[DIAGPRIV]"), std::string::npos);
    EXPECT_NE(text.str().find("COLLINE1=16711680"), std::string::npos);
    EXPECT_NE(text.str().find("COLLINE2=255"), std::string::npos);

    // A new window starts with the saved colours.
    window = std::make_unique<TDiagramm>(config);
    EXPECT_EQ(window->Model().Options.ColLine1, 16711680u);
}

TEST_F(DiagramWindowTest, DragAndWheelZoomAndADoubleClickGoesBack)
{
    Activate();
    window->show();
    QCoreApplication::processEvents();
    DiagramModel& m = window->Model();
    const DiagramRect r = m.Layout().PlotRect;
    const QPointF from(r.left + 100, r.top + 40);
    const QPointF to(r.left + 300, r.top + 120);
    const double f0 = m.XToFreq(static_cast<int>(from.x()));
    const double f1 = m.XToFreq(static_cast<int>(to.x()));
    const double top = m.YToLevel(static_cast<int>(from.y()));
    const double bottom = m.YToLevel(static_cast<int>(to.y()));
    QMouseEvent down(QEvent::MouseButtonPress, from, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent drag(QEvent::MouseMove, to, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent up(QEvent::MouseButtonRelease, to, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &down);
    QCoreApplication::sendEvent(window.get(), &drag);
    EXPECT_TRUE(m.Dragging());
    QCoreApplication::sendEvent(window.get(), &up);
    EXPECT_TRUE(m.Zoomed());
    EXPECT_EQ(m.FreqMin, static_cast<int>(std::floor(f0)));
    EXPECT_EQ(m.FreqMax, static_cast<int>(std::ceil(f1)));
    EXPECT_NEAR(m.LevelMax, top, 0.001);
    EXPECT_NEAR(m.LevelMin, bottom, 0.001);
    EXPECT_FALSE(m.MeasureActive);  // a drag measures nothing
    // The options dialog shows the zoomed range; the runs still get the page's.
    EXPECT_EQ(window->OptionsDialog().findChild<QLineEdit*>("Edit1")->text().toInt(), m.FreqMin);
    int pageMin = 0;
    int pageMax = 0;
    m.GetFreqRange(pageMin, pageMax);
    EXPECT_EQ(pageMin, 10);
    EXPECT_EQ(pageMax, 28000);

    // A notch of the wheel in: 80 % of the range, the frequency under the pointer stays.
    const QPointF at(r.left + 150, r.top + 60);
    const double under = m.XToFreq(static_cast<int>(at.x()));
    const double span = std::log(static_cast<double>(m.FreqMax) / m.FreqMin);
    QWheelEvent wheel(at, at, QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window.get(), &wheel);
    EXPECT_NEAR(std::log(static_cast<double>(m.FreqMax) / m.FreqMin), 0.8 * span, 0.02 * span);
    EXPECT_NEAR(m.XToFreq(static_cast<int>(at.x())), under, under * 0.02);
    // With Shift the level axis.
    const double levels = m.LevelMax - m.LevelMin;
    QWheelEvent shifted(at, at, QPoint(), QPoint(0, -120), Qt::NoButton, Qt::ShiftModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window.get(), &shifted);
    EXPECT_NEAR(m.LevelMax - m.LevelMin, levels / 0.8, 0.01);

    QMouseEvent twice(QEvent::MouseButtonDblClick, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &twice);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &release);
    EXPECT_FALSE(m.Zoomed());
    EXPECT_EQ(m.FreqMin, 10);
    EXPECT_EQ(m.FreqMax, 28000);
    EXPECT_EQ(m.LevelMin, -110.0f);
    EXPECT_EQ(m.LevelMax, 0.0f);
    EXPECT_FALSE(m.MeasureActive);
}

TEST_F(DiagramWindowTest, AClickReadsTheNearestCurveBetweenItsPoints)
{
    Activate();
    DiagramModel& m = window->Model();
    m.SetCurvesShown(true, true);
    // Curve 1 from -60 dB rising 7 dB an octave, curve 2 20 dB below it, at 20 Hz .. 20 kHz
    // in third octaves.
    std::vector<float> freq;
    std::vector<float> level;
    for (int i = 0; i <= 30; ++i) {
        freq.push_back(static_cast<float>(20.0 * std::exp2(i / 3.0)));
        level.push_back(static_cast<float>(-60.0 + 7.0 * i / 3.0 + (i % 2 == 0 ? 1.5 : -1.5)));
        const float values[2] = {level.back(), level.back() - 20.0f};
        ASSERT_FALSE(m.StoreDiagramPoint(values, 2, i, freq.back()));
    }
    // The curve straight between its points, found here by a walk of its own.
    const auto expected = [&](double f) {
        for (std::size_t i = 0; i + 1 < freq.size(); ++i) {
            if (freq[i] <= f && f <= freq[i + 1]) {
                return level[i] + (level[i + 1] - level[i]) * (f - freq[i]) / (freq[i + 1] - freq[i]);
            }
        }
        return std::nan("");
    };
    const DiagramRect r = m.Layout().PlotRect;
    for (const int dx : {61, 110, 160, 233, 302, 389, 470}) {
        const int x = r.left + dx;
        const double f = m.XToFreq(x);
        // Clicked a few rows off curve 1, far from curve 2.
        const QPointF at(x, m.LevelToY1(expected(f)) + 3);
        QMouseEvent down(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent up(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &down);
        QCoreApplication::sendEvent(window.get(), &up);
        ASSERT_TRUE(m.MarkerA.set) << dx;
        EXPECT_EQ(m.MarkerA.ref, (CurveRef{0, 1}));
        EXPECT_NEAR(m.ShownValueAt(m.MarkerA.ref, m.MarkerA.freqHz), expected(f), 0.01) << f << " Hz";
        EXPECT_NE(m.PointReadout.find("Messung"), std::string::npos) << m.PointReadout;
        EXPECT_EQ(m.PointReadout.rfind(FormatFixed(f, 0) + "Hz/", 0), 0u) << m.PointReadout;
        // The second click, on curve 2 (below its last point), ends the measurement with
        // marker B there.
        const int x2 = std::min(x + 40, static_cast<int>(m.FreqToX(16000.0)));
        const QPointF other(x2, m.LevelToY1(expected(m.XToFreq(x2)) - 20.0));
        QMouseEvent down2(QEvent::MouseButtonPress, other, other, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent up2(QEvent::MouseButtonRelease, other, other, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &down2);
        QCoreApplication::sendEvent(window.get(), &up2);
        EXPECT_FALSE(m.MeasureActive);
        ASSERT_TRUE(m.MarkerB.set) << dx;
        EXPECT_EQ(m.MarkerB.ref, (CurveRef{0, 2}));
        ASSERT_EQ(m.MarkerTexts().size(), 3u);  // A, B and their difference
    }
}

TEST_F(DiagramWindowTest, TheCompareMenuKeepsOverlaysTheDialogEditsThemAndTheSmoothingIsSaved)
{
    Activate();
    DiagramModel& m = window->Model();
    for (int i = 0; i < 3; ++i) {
        const float v[2] = {-10.0f * static_cast<float>(i), 0.0f};
        m.StoreDiagramPoint(v, 2, i, 100.0f * static_cast<float>(i + 1));
    }
    window->findChild<QAction*>("KeepItem")->trigger();
    QCoreApplication::processEvents();  // the menu's commands run once it has closed
    ASSERT_EQ(m.Overlays.Page(0).overlays.size(), 1u);
    const Overlay& kept = m.Overlays.Page(0).overlays.front();
    EXPECT_EQ(kept.name.rfind("Spektrum ", 0), 0u) << kept.name;  // the comment is only its label
    EXPECT_TRUE(std::filesystem::exists(OverlayStore::FolderFor(config) + kept.file));

    // The dialog's tick hides it, "Entfernen" removes it with its file.
    auto* list = window->OverlayDialog().findChild<QListWidget*>("OverlayList");
    window->OverlaysClick();
    ASSERT_EQ(list->count(), 1);
    list->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(m.Overlays.Page(0).overlays.front().visible);
    EXPECT_TRUE(m.ShownOverlays().empty());
    list->setCurrentRow(0);
    const std::string file = OverlayStore::FolderFor(config) + kept.file;
    window->OverlayDialog().findChild<QPushButton*>("RemoveBut")->click();
    EXPECT_TRUE(m.Overlays.Page(0).overlays.empty());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(list->count(), 0);

    // The smoothing of the page, kept with the options.
    window->findChild<QAction*>("SmoothItem6")->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(m.Smoothing(), 6);
    window->SetPage(1);
    EXPECT_EQ(m.Smoothing(), 0);
    window.reset();
    std::ifstream in(config);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("SMOOTHFFT=6"), std::string::npos) << text.str();
}
