// TMainForm: the main menu. Building it, the locks a run puts on its items and on the
// page controls (greyed, a tooltip and a click saying why), and the commands of the
// Analyse and help menus.
#include "ui/mainform.h"

#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QSpinBox>

#include "config/settings.h"
#include "ui/analy.h"
#include "ui/diagramlink.h"
#include "ui/flagpicture.h"
#include "ui/generatorpage.h"
#include "ui/helpwindow.h"
#include "ui/shellwindows.h"
#include "ui/spectrumpage.h"

namespace sonvera {

using mainpage::Q;

namespace {

/// The menu of the language flags shows its item's picture at the picture's own size
/// (a menu's icons are otherwise squeezed to 16 pixels).
class FlagMenuStyle : public QProxyStyle {
public:
    explicit FlagMenuStyle(int iconWidth) : iconWidth_(iconWidth) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_SmallIconSize) {
            return iconWidth_;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    int iconWidth_;
};

}  // namespace

QAction* TMainForm::Item(const char* name) const
{
    return findChild<QAction*>(QString::fromLatin1(name));
}

void TMainForm::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    auto menu = [&](QMenu* parent, const char* name, const char* caption) {
        QMenu* m = parent ? parent->addMenu(Q(caption)) : bar->addMenu(Q(caption));
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };
    auto item = [&](QMenu* m, const char* name, const char* caption, auto handler) {
        QAction* a = m->addAction(Q(caption));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };

    QMenu* file = menu(nullptr, "Filemenu", "&Datei");
    item(file, "SpeichernalsText1", "&Speichern als Text", [this] { SpeichernalsText1Click(); });
    file->addSeparator();
    item(file, "FilePrintItem", "&Drucken", [this] { FilePrint(); });
    item(file, "FilePrintSetupItem", "Drucker&einrichtung", [this] { FilePrintSetup(); });
    file->addSeparator();
    item(file, "FileExitItem", "&Beenden", [this] { close(); });

    QMenu* edit = menu(nullptr, "EditMenu", "&Bearbeiten");
    item(edit, "Kommentar1", "Kommentar", [this] { Kommentar1Click(); });
    edit->addSeparator();
    QAction* copy = item(edit, "EditCopyItem", "&Kopieren", [this] { EditCopy(); });
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));

    QMenu* analyse = menu(nullptr, "Analyse1", "&Analyse");
    item(analyse, "THDN1", "&THD+Noise", [this] { THDN1Click(); })->setCheckable(true);
    item(analyse, "Noise1", "&Level", [this] { Noise1Click(); })->setCheckable(true);
    item(analyse, "Parameter1", "&Parameter", [this] { Parameter1Click(); });
    analyse->addSeparator();
    item(analyse, "Klirranalysator1", "&Klirranalysator …", [this] { spectrumPage_->ShowDistortion(); });

    QMenu* correction = menu(nullptr, "Korrektur1", "&Korrektur");
    item(correction, "LadeEingangskorrekturdatei1", "Lade &Eingangskorrekturdatei",
         [this] { LadeEingangskorrekturdatei1Click(); });
    item(correction, "Eingangskorrekturaktiv1", "Eingangskorrektur aktiv", [this] {
        Eingangskorrekturaktiv1Click();
    })->setCheckable(true);
    item(correction, "EditEingangskorrekturdatei1", "Edit Eingangskorrekturdatei",
         [this] { EditEingangskorrekturdatei1Click(); });
    correction->addSeparator();
    item(correction, "LadeAusgangskorrekturdatei1", "Lade &Ausgangskorrekturdatei",
         [this] { LadeAusgangskorrekturdatei1Click(); });
    item(correction, "Ausgangskorrekturaktiv1", "Ausgangskorrektur aktiv", [this] {
        Ausgangskorrekturaktiv1Click();
    })->setCheckable(true);
    item(correction, "EditAusgangskorrekturdatei1", "Edit Ausgangskorrekturdatei",
         [this] { EditAusgangskorrekturdatei1Click(); });
    correction->addSeparator();
    item(correction, "Testekorrekturdatei1", "Teste Korrekturdateien", [this] { Testekorrekturdatei1Click(); });

    QMenu* options = menu(nullptr, "MEinstellung", "&Einstellungen");
    QAction* flags = item(options, "deutschEnglish1", "", [this] { DeutschEnglish1Click(); });
    flags->setIcon(QIcon(DrawLanguageFlags()));
    auto* flagStyle = new FlagMenuStyle(DrawLanguageFlags().width());
    flagStyle->setParent(options);
    options->setStyle(flagStyle);
    options->setToolTipsVisible(true);
    item(options, "Eichen1", "&Kalibrierung", [this] { Eichen1Click(); });
    item(options, "ShowFeaturelist1", "&Featureliste", [this] { ShowFeaturelist1Click(); });
    options->addSeparator();
    QMenu* inDevices = menu(options, "AudioDevices1", "Audio-In-Device");
    const char* const inNames[] = {"N11", "N21", "N31"};
    const char* const outNames[] = {"N12", "N22", "N32"};
    for (int i = 0; i < 3; ++i) {
        inDeviceItems_[static_cast<std::size_t>(i)] =
            item(inDevices, inNames[i], inNames[i], [this, i] { SelectInDeviceItem(i); });
        inDeviceItems_[static_cast<std::size_t>(i)]->setCheckable(true);
    }
    item(options, "AudioInParameter1", "Audio-In-Parameter", [this] { AudioInParameter1Click(); });
    options->addSeparator();
    QMenu* outDevices = menu(options, "AudioOutDevice1", "Audio-Out-Device");
    for (int i = 0; i < 3; ++i) {
        outDeviceItems_[static_cast<std::size_t>(i)] =
            item(outDevices, outNames[i], outNames[i], [this, i] { SelectOutDeviceItem(i); });
        outDeviceItems_[static_cast<std::size_t>(i)]->setCheckable(true);
    }
    item(options, "AudioOutParameter1", "Audio-Out-Parameter", [this] { AudioOutParameter1Click(); });
    options->addSeparator();
    QMenu* lines = menu(options, "Eingang1", "&Wave Aux In");
    auto* lineGroup = new QActionGroup(this);  // one radio group over all ten lines
    lineGroup->setObjectName(QStringLiteral("AuxGroup88"));
    for (int i = 0; i < 10; ++i) {
        const std::string name = "auxin" + std::to_string(i);
        QAction* a = item(lines, name.c_str(), name.c_str(), [this, i] { SelectAuxInput(i); });
        a->setCheckable(true);
        lineGroup->addAction(a);
        auxItems_[static_cast<std::size_t>(i)] = a;
    }
    item(options, "Reset1", "&Reset Soundsystem", [this] { Reset1Click(); });

    QMenu* help = menu(nullptr, "HelpMenu", "&?");
    item(help, "HelpContentsItem", "&Inhalt", [this] { HelpContents(); })->setShortcut(QKeySequence(Qt::Key_F1));
    help->addSeparator();
    item(help, "HelpAboutItem", "Inf&o...", [this] { HelpAbout(); });
}

void TMainForm::LockMenus(bool locked)
{
    for (const char* name : {"Eichen1", "AudioInParameter1", "AudioOutParameter1"}) {
        Item(name)->setEnabled(!locked);
    }
    findChild<QMenu*>(QStringLiteral("AudioDevices1"))->setEnabled(!locked);
    findChild<QMenu*>(QStringLiteral("AudioOutDevice1"))->setEnabled(!locked);
    RefreshLockTips();
}

void TMainForm::RefreshLockTips()
{
    const QString locked = QString::fromStdString(LockedDuringMeasurementText(statusLanguage_));
    std::vector<QAction*> items;
    for (const char* name : {"Eichen1", "AudioInParameter1", "AudioOutParameter1"}) {
        items.push_back(Item(name));
    }
    for (const char* name : {"AudioDevices1", "AudioOutDevice1"}) {
        items.push_back(findChild<QMenu*>(QString::fromLatin1(name))->menuAction());
    }
    for (QAction* a : items) {
        a->setToolTip(a->isEnabled() ? QString() : locked);
    }
    for (QWidget* w : lockables_) {
        w->setToolTip(w->isEnabled() ? QString() : locked);
    }
}

void TMainForm::ReportLockedClick(QWidget* control)
{
    QString caption;
    if (control == spectrumPage_->AverValBox) {
        caption = spectrumPage_->Label6->text();
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        caption = group->title().trimmed();
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        caption = button->text().remove(QLatin1Char('&')).trimmed();
    }
    RunReport report{Measurement::Spectrum, RunEvent::Refused};  // the caption names it
    report.control = caption.toStdString();
    report.refusal = control == spectrumPage_->StartButton || control == generatorPage_->wobbelnBut
                         ? Refusal::AlreadyRunning
                         : Refusal::MeasurementRunning;
    ReportRun(report);
}

void TMainForm::SetAnalyseMenuEnabled(bool enabled)
{
    findChild<QMenu*>(QStringLiteral("Analyse1"))->setEnabled(enabled);
}

void TMainForm::SetAnalysisChecks(bool thd, bool noise)
{
    Item("THDN1")->setChecked(thd);
    Item("Noise1")->setChecked(noise);
}

void TMainForm::THDN1Click()
{
    diagramLink_->SetResultLine("");
    AnalysisSettings& a = state_.settings.Analysis;
    a.ThdMeasure = !a.ThdMeasure;
    if (a.ThdMeasure) {
        a.NoiseMeasure = false;
    }
    SetAnalysisChecks(a.ThdMeasure, a.NoiseMeasure);
}

void TMainForm::Noise1Click()
{
    diagramLink_->SetResultLine("");
    AnalysisSettings& a = state_.settings.Analysis;
    a.NoiseMeasure = !a.NoiseMeasure;
    if (a.NoiseMeasure) {
        a.ThdMeasure = false;
    }
    SetAnalysisChecks(a.ThdMeasure, a.NoiseMeasure);
}

void TMainForm::Parameter1Click()
{
    if (windows_.analy) {
        windows_.analy->ShowAnalysisDialog();
    }
}

int TMainForm::ShowModal(QDialog* dialog)
{
    // The main window is never kept on top here, so there is no style to lift and put
    // back around the modal dialog.
    return dialog->exec();
}

void TMainForm::HelpContents()
{
    Help().ShowContext(kMainHelpContext);
}

void TMainForm::HelpAbout()
{
    if (windows_.aboutBox) {
        ShowModal(windows_.aboutBox);
    }
}

}  // namespace sonvera
