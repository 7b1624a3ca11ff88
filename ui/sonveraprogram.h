#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

#include "config/profilefile.h"
#include "ui/mainform.h"

namespace sonvera {

class ConfigLock;
struct FileProblem;
class SoundEngine;
class Tdummy;
class WaveLayer;
class TDiagramm;

/// The whole program above the wave layer: the sound engine, the configuration file,
/// the settings and the thirteen windows, created once each in their fixed order with
/// the main window first, and destroyed in the reverse order.
///
/// The configuration file: the program holds its lock while it runs, so that a second
/// program on the same file learns of the first; everything its end writes goes into
/// one save of the file; a file it cannot read or save gets one warning per session.
class SonveraProgram {
public:
    /// `perUserConfig`: the configuration is the per-user file, whose folder the program
    /// creates.
    SonveraProgram(WaveLayer& layer, const std::string& configPath, bool perUserConfig = false);
    ~SonveraProgram();
    SonveraProgram(const SonveraProgram&) = delete;
    SonveraProgram& operator=(const SonveraProgram&) = delete;

    /// Start's result when the user chose to quit because another running program uses
    /// the configuration file.
    static constexpr int kQuitChosen = 2;

    /// Creates the windows. Returns 0; 1 when the sound engine could not be started
    /// (the failure box has been shown; nothing else is created and nothing is saved);
    /// kQuitChosen when another running program holds the configuration and the user
    /// chose to quit rather than go on without saving settings.
    int Start();
    /// Shows the main window (which then applies the language and enters its page).
    /// Every reader from the start up to here reads one copy of the configuration, read
    /// once at the start.
    void Show();

    TMainForm& Main() { return *mainForm_; }
    SoundEngine& Engine() { return *engine_; }
    ShellState& State() { return state_; }
    TDiagramm* Diagram() { return windows_.diagramm; }
    const MainFormWindows& Windows() const { return windows_; }
    /// Class names of the windows in the order they were created.
    const std::vector<std::string>& CreationOrder() const { return creationOrder_; }

    /// Whether this run saves its settings (false after "continue without saving").
    bool SavesSettings() const { return !profile_.IsInMemory(); }
    const ProfileFile& Profile() const { return profile_; }

private:
    void Created(const char* className);
    bool ClaimConfiguration();
    void WarnConfiguration(bool saving, const FileProblem& problem);

    ProfileFile profile_;
    std::unique_ptr<ConfigLock> lock_;
    bool perUserConfig_ = false;
    bool configWarned_ = false;  // the configuration's warning of this session was shown
    ShellState state_;
    std::unique_ptr<SoundEngine> engine_;
    std::unique_ptr<TMainForm> mainForm_;
    std::vector<std::unique_ptr<QObject>> others_;  // creation order, destroyed backwards
    MainFormWindows windows_;
    std::vector<std::string> creationOrder_;
    bool started_ = false;
};

}  // namespace sonvera
