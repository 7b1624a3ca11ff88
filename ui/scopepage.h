#pragma once

#include <memory>
#include <string>
#include <vector>

#include "measure/scoperun.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class QScrollBar;
class QWidget;

namespace sonvera {

class PageHost;
class SoundEngine;
class TOszidia;
struct ShellState;

/// The oscilloscope page of the main window: the channels' and the timebase's controls
/// and the oscilloscope run they drive, which draws into the oscilloscope view.
class ScopePage : private ScopePageControls {
public:
    /// Builds the controls on `page`, adding them to `layout`.
    ScopePage(QWidget* page, std::vector<QWidget*>& layout, SoundEngine& engine, ShellState& state, PageHost& host);
    ~ScopePage() override;
    ScopePage(const ScopePage&) = delete;
    ScopePage& operator=(const ScopePage&) = delete;

    ScopeRun& Run() { return *scope_; }
    /// The oscilloscope view, once it exists.
    void AttachView(TOszidia* view);

    // Controls.
    QGroupBox* ScopeChannel1 = nullptr;
    QGroupBox* ScopeChannel2 = nullptr;
    QGroupBox* ScopeTimebase = nullptr;
    QScrollBar* SCRyposCh1 = nullptr;
    QScrollBar* SCRyposch2 = nullptr;
    QScrollBar* SCRtrig = nullptr;
    QLabel* VperDiv1 = nullptr;
    QLabel* VperDiv2 = nullptr;
    QLabel* Panel3 = nullptr;
    QLabel* ScopeOverload = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;

private:
    class ScopeLink;

    void BuildPage(QWidget* page, std::vector<QWidget*>& layout);

    // ScopePageControls.
    void ShowScopeView(bool show) override;
    void SetScopeMenusEnabled(bool enabled, bool withAnalyse) override;
    void SetTimebaseCaption(const std::string& text) override;
    void SetVoltsPerDivCaption(int channel, const std::string& text) override;
    void SetOverloadText(const std::string& text) override;
    void SetPositionSliders(int ch1, int ch2) override;
    void SetScopeChecks(bool gnd1, bool gnd2, bool rising, bool trigCh1) override;
    void PostScopeNext() override;
    bool ScopePageCurrent() const override;
    void ReportRun(const RunReport& report) override;

    PageHost& host_;
    std::unique_ptr<ScopeLink> scopeLink_;
    std::unique_ptr<ScopeRun> scope_;
};

}  // namespace sonvera
