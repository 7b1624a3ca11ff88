#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

#include "config/profilefile.h"
#include "ui/mainform.h"

namespace sonvera {

class SoundEngine;
class Tdummy;
class WaveLayer;
class TDiagramm;

/// The whole program above the wave layer: the sound engine, the configuration file,
/// the settings and the thirteen windows, created once each in their fixed order with
/// the main window first, and destroyed in the reverse order.
class SonveraProgram {
public:
    SonveraProgram(WaveLayer& layer, const std::string& configPath);
    ~SonveraProgram();
    SonveraProgram(const SonveraProgram&) = delete;
    SonveraProgram& operator=(const SonveraProgram&) = delete;

    /// Creates the windows. Returns 0, or 1 when the sound engine could not be started
    /// (the failure box has been shown; nothing else is created and nothing is saved).
    int Start();
    /// Shows the main window (which then applies the language and enters its page).
    void Show();

    TMainForm& Main() { return *mainForm_; }
    SoundEngine& Engine() { return *engine_; }
    ShellState& State() { return state_; }
    TDiagramm* Diagram() { return windows_.diagramm; }
    const MainFormWindows& Windows() const { return windows_; }
    /// Class names of the windows in the order they were created.
    const std::vector<std::string>& CreationOrder() const { return creationOrder_; }

private:
    void Created(const char* className);

    ProfileFile profile_;
    ShellState state_;
    std::unique_ptr<SoundEngine> engine_;
    std::unique_ptr<TMainForm> mainForm_;
    std::vector<std::unique_ptr<QObject>> others_;  // creation order, destroyed backwards
    MainFormWindows windows_;
    std::vector<std::string> creationOrder_;
    bool started_ = false;
};

}  // namespace sonvera
