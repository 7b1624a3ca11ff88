#include "ui/sonveraprogram.h"

#include <QCoreApplication>

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

SonveraProgram::SonveraProgram(WaveLayer& layer, const std::string& configPath)
    : profile_(configPath), engine_(std::make_unique<SoundEngine>(layer))
{
    engine_->SetProfile(&profile_);
}

SonveraProgram::~SonveraProgram()
{
    if (mainForm_ && started_) {
        mainForm_->Shutdown();  // a no-op when the window was closed already
    }
    while (!others_.empty()) {
        others_.pop_back();
    }
    mainForm_.reset();
    engine_->SetMessagePort(nullptr);
}

void SonveraProgram::Created(const char* className)
{
    creationOrder_.emplace_back(className);
}

int SonveraProgram::Start()
{
    QCoreApplication::setApplicationName(QStringLiteral("Sonvera"));

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
    windows_.diagramm = add("TDiagramm", std::make_unique<TDiagramm>(profile_.Path()));
    // The diagram window creates its options dialog with itself; it is the twelfth.
    Created("Tdiadlg");
    windows_.wavegen = add("TWavegen", std::make_unique<TWavegen>(*engine_, state_.settings.Generator,
                                                                         state_.OutCorrection, profile_));
    mainForm_->AttachWindows(windows_);
    started_ = true;
    return 0;
}

void SonveraProgram::Show()
{
    mainForm_->show();
}

}  // namespace sonvera
