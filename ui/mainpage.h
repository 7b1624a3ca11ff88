#pragma once
// What the pages of the main window's notebook share: the window around them (PageHost)
// and the helper that puts a control at its designed place.

#include <QString>
#include <QWidget>

#include <vector>

class QDialog;

namespace sonvera {

struct RunReport;

/// The main window as its pages see it: everything a page does beyond its own controls
/// and its run (the menus a run locks, the input level both pages show, the dialogs, the
/// status line, the messages a run posts itself) goes through here.
class PageHost {
public:
    virtual ~PageHost() = default;

    /// Greys (or frees) the menu items a run locks, with the tooltip saying why.
    virtual void LockMenus(bool locked) = 0;
    /// Brings the "locked during a measurement" tooltips up to date.
    virtual void RefreshLockTips() = 0;
    virtual void SetAnalyseMenuEnabled(bool enabled) = 0;
    virtual void SetAnalysisChecks(bool thd, bool noise) = 0;
    /// Sets the recording line to `percent` and shows it on every page.
    virtual void SetInputLevel(int percent) = 0;
    /// Shows `percent` on every page's input slider without writing the line.
    virtual void ShowInputLevel(int percent) = 0;
    virtual void ShowWaveFormatDialog(bool input) = 0;
    virtual int ShowModal(QDialog* dialog) = 0;
    /// The status line under the page.
    virtual void ReportRun(const RunReport& report) = 0;
    /// Posts an application message (measure/appmessages.h) to the main window, whose
    /// handler gives it to the page's run.
    virtual void PostToMainWindow(int message) = 0;
    virtual void CloseMainWindow() = 0;
    /// Shows the oscilloscope view beside the main window, or hides it.
    virtual void ShowScopeView(bool show) = 0;
    /// Moves `window` (not shown yet) beside the main window, off it and off the other
    /// windows shown where the screen has room.
    virtual void PlaceBesideMainWindow(QWidget* window) = 0;
    /// Whether the main window has shut down (nothing may run any more).
    virtual bool Closed() const = 0;
    virtual int CurrentPage() const = 0;
};

namespace mainpage {

/// The notebook's pages in their order.
inline constexpr int kSpectrumPage = 0;
inline constexpr int kGeneratorPage = 1;
inline constexpr int kScopePage = 2;

inline QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

/// A control of the main window at its designed place; `layout` collects it, so that
/// the proportional layout scales it with the window.
template <class W>
W* Place(QWidget* parent, std::vector<QWidget*>& layout, const char* name, int x, int y, int w, int h)
{
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    layout.push_back(widget);
    return widget;
}

}  // namespace mainpage

}  // namespace sonvera
