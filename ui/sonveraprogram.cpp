#include "ui/sonveraprogram.h"

#include <QCoreApplication>

#include "config/configlock.h"
#include "config/sections.h"
#include "measure/prompt.h"

#include "diagram/diadlg.h"
#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "measure/tdummy.h"
#include "scope/eichdlg.h"
#include "scope/oszidia.h"
#include "ui/analy.h"
#include "ui/featdlg.h"
#include "ui/iodialog.h"
#include "ui/koredit.h"
#include "ui/shellwindows.h"
#include "ui/wavegen.h"
#include "ui/wobbeldlg.h"

namespace sonvera {

namespace {

/// The program's texts about its configuration file, German and English.
struct ConfigTexts {
    const char* inUse;       // the file, then the question
    const char* inUseQuestion;
    const char* unreadable;  // the file, then the reason
    const char* unreadableReason;
    const char* unreadableEnd;
    const char* unsaved;     // the file, then the reason
};

const ConfigTexts kGermanConfigTexts{
    "Die Konfigurationsdatei ",
    " wird von einem anderen laufenden Sonvera benutzt.\n\n"
    "Ohne Speichern der Einstellungen weiterarbeiten?\n(Ja: weiterarbeiten, nichts wird gespeichert. "
    "Nein: Programm beenden.)",
    "Die Konfigurationsdatei ",
    " kann nicht gelesen werden (",
    "). Es gelten die Grundeinstellungen; die Datei bleibt unverändert.",
    "Die Einstellungen konnten nicht gespeichert werden in ",
};

const ConfigTexts kEnglishConfigTexts{
    "The configuration file ",
    " is in use by another running Sonvera.\n\n"
    "Continue without saving settings?\n(Yes: continue, nothing will be saved. No: quit.)",
    "The configuration file ",
    " cannot be read (",
    "). The default settings apply; the file is left as it is.",
    "The settings could not be saved to ",
};

const ConfigTexts& ConfigTextsFor(char language)
{
    return language == 'E' ? kEnglishConfigTexts : kGermanConfigTexts;
}

}  // namespace

SonveraProgram::SonveraProgram(WaveLayer& layer, const std::string& configPath, bool perUserConfig)
    : profile_(configPath), perUserConfig_(perUserConfig), engine_(std::make_unique<SoundEngine>(layer))
{
    engine_->SetProfile(&profile_);
    profile_.SetCreateFolder(perUserConfig);
    profile_.SetSaveFailureHandler([this](const FileProblem& problem) { WarnConfiguration(true, problem); });
}

SonveraProgram::~SonveraProgram()
{
    if (mainForm_ && started_) {
        mainForm_->Shutdown();  // a no-op when the window was closed already
    }
    while (!others_.empty()) {
        others_.pop_back();  // the dialogs and the diagram write their sections here
    }
    if (mainForm_ && mainForm_->Closed()) {
        profile_.EndBatch();  // the one save of the program's end, begun by the close
    }
    mainForm_.reset();
    engine_->SetMessagePort(nullptr);
}

void SonveraProgram::Created(const char* className)
{
    creationOrder_.emplace_back(className);
}

bool SonveraProgram::ClaimConfiguration()
{
    lock_ = std::make_unique<ConfigLock>(profile_.Path(), perUserConfig_);
    if (lock_->GetState() != ConfigLock::State::HeldElsewhere) {
        return true;
    }
    // Asked in the language the file's settings choose (the other program speaks it).
    const std::string language = profile_.GetString("MAIN", "SPRACHE", "D", kMainBufferSize);
    const ConfigTexts& texts = ConfigTextsFor(language.empty() ? 'D' : language.front());
    if (!AskYesNoPrompt(texts.inUse + profile_.Path() + texts.inUseQuestion)) {
        return false;
    }
    profile_.Detach();  // settings are read once more, and never saved
    return true;
}

void SonveraProgram::WarnConfiguration(bool saving, const FileProblem& problem)
{
    if (configWarned_) {
        return;  // one warning per session: the settings of this run are lost either way
    }
    configWarned_ = true;
    const char language = state_.settings.Main.UiLanguage;
    const ConfigTexts& texts = ConfigTextsFor(language);
    const std::string reason = DescribeFileProblem(problem, language);
    ShowWarningPrompt(saving ? texts.unsaved + profile_.Path() + " (" + reason + ")"
                             : texts.unreadable + profile_.Path() + texts.unreadableReason + reason +
                                   texts.unreadableEnd);
}

int SonveraProgram::Start()
{
    QCoreApplication::setApplicationName(QStringLiteral("Sonvera"));
    if (!ClaimConfiguration()) {
        return kQuitChosen;
    }
    FileProblem problem;
    // The readers of the start (the windows' constructors, the first show) share one
    // read of the file; Show ends it.
    if (profile_.BeginReading(&problem) == ProfileFile::Status::Unreadable) {
        // The defaults apply and the file is never overwritten; saying so now spares the
        // user a session of settings that cannot be kept.
        WarnConfiguration(false, problem);
    }

    mainForm_ = std::make_unique<TMainForm>(*engine_, profile_, state_);
    Created("TMainForm");
    // The hidden receiver must exist before the engine can report a block; it is
    // created in its place below, but the engine only starts capturing after FormShow.
    if (mainForm_->FormCreate() != 0) {
        return 1;
    }

    auto add = [this](const char* className, auto window) {
        auto* raw = window.get();
        Created(className);
        others_.push_back(std::move(window));
        return raw;
    };
    windows_.featDlg = add("TFeatDlg", std::make_unique<TFeatDlg>());
    add("Tdummy", std::make_unique<Tdummy>(*engine_));
    windows_.wobbelDlg = add("Twobbeldlg", std::make_unique<Twobbeldlg>());
    windows_.oszidia = add("TOszidia", std::make_unique<TOszidia>());
    windows_.aboutBox = add("TAboutBox", std::make_unique<TAboutBox>());
    windows_.eichDlg = add("TEichDlg", std::make_unique<TEichDlg>(*engine_));
    windows_.analy = add("TAnaly", std::make_unique<TAnaly>(state_.settings.Analysis, state_.filter, *mainForm_->CurveLoader(),
                                                 profile_));
    windows_.korEdit = add("TKorEdit", std::make_unique<TKorEdit>());
    windows_.ioDialog = add("TIOdialog", std::make_unique<TIOdialog>(*engine_));
    windows_.diagramm = add("TDiagramm", std::make_unique<TDiagramm>(profile_));
    // The diagram window creates its options dialog with itself; it is the twelfth.
    Created("Tdiadlg");
    // A window of the main window's: kept over it by the window manager, never over the
    // dialogs the program opens.
    windows_.wavegen = add("TWavegen", std::make_unique<TWavegen>(*engine_, state_.settings.Generator,
                                                                         state_.OutCorrection, profile_,
                                                                         mainForm_.get()));
    mainForm_->AttachWindows(windows_);
    started_ = true;
    return 0;
}

void SonveraProgram::Show()
{
    mainForm_->show();
    profile_.EndReading();
}

}  // namespace sonvera
