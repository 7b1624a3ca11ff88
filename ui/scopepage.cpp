#include "ui/scopepage.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolButton>

#include "measure/appmessages.h"
#include "scope/oszidia.h"
#include "ui/mainpage.h"
#include "ui/shellstate.h"

namespace sonvera {

using mainpage::Place;

/// The oscilloscope run's view of the oscilloscope window (nothing happens before it exists).
class ScopePage::ScopeLink : public ScopeDisplay {
public:
    TOszidia* window = nullptr;

    bool PrepareScope(const std::string& caption, int points, bool xLog, float xMin, float xMax, float yMin,
                      float yMax) override
    {
        return window == nullptr || window->PrepareScope(caption, points, xLog, xMin, xMax, yMin, yMax);
    }
    bool StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x, float ch2,
                         float ch1) override
    {
        return window == nullptr || window->StoreScopePoint(i, trigCh1, voltsDiv2, voltsDiv1, x, ch2, ch1);
    }
    void RepaintScope() override
    {
        if (window) window->RepaintScope();
    }
    void ShowTriggerLevel(bool channel1, float divisions) override
    {
        if (window) window->Model().SetTriggerMark(channel1, divisions);
    }
};

namespace {

/// A pair of small arrow buttons standing for one up/down control; the pair carries the
/// control's name and hint, the buttons its name with "Up" and "Down".
QWidget* PlaceSpinButtons(QWidget* parent, std::vector<QWidget*>& list, const char* name, const char* hint, int x,
                          int y, QToolButton*& up, QToolButton*& down)
{
    auto* pair = Place<QWidget>(parent, list, name, x, y, 20, 28);
    pair->setToolTip(QString::fromUtf8(hint));
    up = new QToolButton(pair);
    up->setObjectName(QString::fromLatin1(name) + QStringLiteral("Up"));
    up->setArrowType(Qt::UpArrow);
    up->setGeometry(0, 0, 20, 14);
    up->setToolTip(pair->toolTip());
    down = new QToolButton(pair);
    down->setObjectName(QString::fromLatin1(name) + QStringLiteral("Down"));
    down->setArrowType(Qt::DownArrow);
    down->setGeometry(0, 14, 20, 14);
    down->setToolTip(pair->toolTip());
    return pair;
}

QLabel* PlacePanel(QWidget* parent, std::vector<QWidget*>& list, const char* name, int x, int y)
{
    auto* panel = Place<QLabel>(parent, list, name, x, y, 76, 28);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignCenter);
    return panel;
}

QScrollBar* PlaceVerticalSlider(QWidget* parent, std::vector<QWidget*>& list, const char* name, const char* hint,
                                int x, int range)
{
    auto* bar = Place<QScrollBar>(parent, list, name, x, 20, 18, 200);
    bar->setOrientation(Qt::Vertical);
    bar->setRange(-range, range);
    bar->setValue(0);
    bar->setToolTip(QString::fromUtf8(hint));
    return bar;
}

}  // namespace

ScopePage::ScopePage(QWidget* page, std::vector<QWidget*>& layout, SoundEngine& engine, ShellState& state,
                     PageHost& host)
    : host_(host), scopeLink_(std::make_unique<ScopeLink>())
{
    scope_ = std::make_unique<ScopeRun>(engine, state.settings, *scopeLink_, static_cast<ScopePageControls&>(*this));
    BuildPage(page, layout);
}

ScopePage::~ScopePage() = default;

void ScopePage::AttachView(TOszidia* view)
{
    scopeLink_->window = view;
}

void ScopePage::BuildPage(QWidget* page, std::vector<QWidget*>& L)
{
    QToolButton* up = nullptr;
    QToolButton* down = nullptr;

    ScopeChannel1 = Place<QGroupBox>(page, L, "GroupBox1", 6, 4, 180, 232);
    ScopeChannel1->setTitle(QStringLiteral("Channel 1"));
    SCRyposCh1 = PlaceVerticalSlider(ScopeChannel1, L, "SCRyposCh1", "Pos Ch.1 ", 10, 80);
    VperDiv1 = PlacePanel(ScopeChannel1, L, "VperDiv1", 40, 40);
    PlaceSpinButtons(ScopeChannel1, L, "SpinButton2", "Y-Achse Kanal 1", 122, 40, up, down);
    QObject::connect(up, &QToolButton::clicked, page, [this] { scope_->SpinButton2UpClick(); });
    QObject::connect(down, &QToolButton::clicked, page, [this] { scope_->SpinButton2DownClick(); });
    CheckBox1 = Place<QCheckBox>(ScopeChannel1, L, "CheckBox1", 40, 90, 80, 20);
    CheckBox1->setText(QStringLiteral("Gnd"));
    CheckBox1->setToolTip(QStringLiteral("Schaltet Ch. 1auf Masse"));

    ScopeChannel2 = Place<QGroupBox>(page, L, "GroupBox2", 192, 4, 180, 232);
    ScopeChannel2->setTitle(QStringLiteral("Channel 2"));
    SCRyposch2 = PlaceVerticalSlider(ScopeChannel2, L, "SCRyposch2", "Pos. Ch.2", 10, 80);
    VperDiv2 = PlacePanel(ScopeChannel2, L, "VperDiv2", 40, 40);
    PlaceSpinButtons(ScopeChannel2, L, "SpinButton1", "Y-Achse Ch.2", 122, 40, up, down);
    QObject::connect(up, &QToolButton::clicked, page, [this] { scope_->SpinButton1UpClick(); });
    QObject::connect(down, &QToolButton::clicked, page, [this] { scope_->SpinButton1DownClick(); });
    CheckBox3 = Place<QCheckBox>(ScopeChannel2, L, "CheckBox3", 40, 90, 80, 20);
    CheckBox3->setText(QStringLiteral("Gnd"));
    CheckBox3->setToolTip(QStringLiteral("Schaltet Ch.2 auf Masse"));

    ScopeTimebase = Place<QGroupBox>(page, L, "GroupBox3", 378, 4, 210, 232);
    ScopeTimebase->setTitle(QStringLiteral("Timebase"));
    Panel3 = PlacePanel(ScopeTimebase, L, "Panel3", 10, 40);
    PlaceSpinButtons(ScopeTimebase, L, "SpinButton3", "Zeitablenkung", 92, 40, up, down);
    QObject::connect(up, &QToolButton::clicked, page, [this] { scope_->SpinButton3UpClick(); });
    QObject::connect(down, &QToolButton::clicked, page, [this] { scope_->SpinButton3DownClick(); });
    SCRtrig = PlaceVerticalSlider(ScopeTimebase, L, "SCRtrig", "Trigger Level", 182, 200);
    auto* trigger = Place<QLabel>(ScopeTimebase, L, "Label1", 10, 84, 80, 18);
    trigger->setText(QStringLiteral("Trigger"));
    CheckBox2 = Place<QCheckBox>(ScopeTimebase, L, "CheckBox2", 10, 106, 80, 20);
    CheckBox2->setText(QStringLiteral("+ / -"));
    CheckBox2->setToolTip(QStringLiteral("Trigg. pos/neg Flanke"));
    RadioButton1 = Place<QRadioButton>(ScopeTimebase, L, "RadioButton1", 10, 132, 60, 20);
    RadioButton1->setText(QStringLiteral("Ch1"));
    RadioButton2 = Place<QRadioButton>(ScopeTimebase, L, "RadioButton2", 80, 132, 60, 20);
    RadioButton2->setText(QStringLiteral("Ch2"));
    ScopeOverload = Place<QLabel>(ScopeTimebase, L, "ScopeOverload", 10, 190, 160, 20);
    ScopeOverload->setStyleSheet(QStringLiteral("color: red"));

    // Dragging, the arrows and page clicks all end in a new value; positions set by the
    // run itself do not come here (see SetPositionSliders).
    QObject::connect(SCRyposCh1, &QScrollBar::valueChanged, page, [this](int p) { scope_->SCRyposCh1Scroll(p); });
    QObject::connect(SCRyposch2, &QScrollBar::valueChanged, page, [this](int p) { scope_->SCRyposch2Scroll(p); });
    QObject::connect(SCRtrig, &QScrollBar::valueChanged, page, [this](int p) { scope_->SCRtrigScroll(p); });
    QObject::connect(CheckBox1, &QCheckBox::clicked, page, [this](bool c) { scope_->CheckBox1Click(c); });
    QObject::connect(CheckBox3, &QCheckBox::clicked, page, [this](bool c) { scope_->CheckBox3Click(c); });
    QObject::connect(CheckBox2, &QCheckBox::clicked, page, [this](bool c) { scope_->CheckBox2Click(c); });
    QObject::connect(RadioButton1, &QRadioButton::clicked, page, [this] { scope_->RadioButton1Click(); });
    QObject::connect(RadioButton2, &QRadioButton::clicked, page, [this] { scope_->RadioButton2Click(); });
}

// ---- Oscilloscope page controls --------------------------------------------------------------

void ScopePage::ShowScopeView(bool show)
{
    host_.ShowScopeView(show);
}

void ScopePage::SetScopeMenusEnabled(bool enabled, bool withAnalyse)
{
    host_.LockMenus(!enabled);
    if (withAnalyse) {
        host_.SetAnalyseMenuEnabled(enabled);
    }
}

void ScopePage::SetTimebaseCaption(const std::string& text)
{
    Panel3->setText(QString::fromStdString(text));
}

void ScopePage::SetVoltsPerDivCaption(int channel, const std::string& text)
{
    (channel == 1 ? VperDiv1 : VperDiv2)->setText(QString::fromStdString(text));
}

void ScopePage::SetOverloadText(const std::string& text)
{
    ScopeOverload->setText(QString::fromStdString(text));
}

void ScopePage::SetPositionSliders(int ch1, int ch2)
{
    const QSignalBlocker block1(SCRyposCh1);
    const QSignalBlocker block2(SCRyposch2);
    SCRyposCh1->setValue(ch1);
    SCRyposch2->setValue(ch2);
}

void ScopePage::SetScopeChecks(bool gnd1, bool gnd2, bool rising, bool trigCh1)
{
    CheckBox1->setChecked(gnd1);
    CheckBox3->setChecked(gnd2);
    CheckBox2->setChecked(rising);
    RadioButton1->setChecked(trigCh1);
    RadioButton2->setChecked(!trigCh1);
}

void ScopePage::PostScopeNext()
{
    host_.PostToMainWindow(WM_SCOPE_NEXT);
}

bool ScopePage::ScopePageCurrent() const
{
    return !host_.Closed() && host_.CurrentPage() == mainpage::kScopePage;
}

void ScopePage::ReportRun(const RunReport& report)
{
    host_.ReportRun(report);
}

}  // namespace sonvera
