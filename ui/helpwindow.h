#pragma once

#include <QWidget>

class QTextBrowser;

namespace sonvera {

/// The help viewer: one HTML page per help context, bundled with the program, shown in a
/// small window. Contexts without a page of their own show the contents page. Escape
/// closes it.
class HelpWindow : public QWidget {
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    /// Shows the page of `context` and brings the window to the front.
    void ShowContext(int context);
    /// The resource path shown for `context` ("qrc:/help/context2.html", ...).
    static QString PageFor(int context);
    /// The context last shown (0 before the first).
    int CurrentContext() const { return context_; }
    QTextBrowser* Browser() const { return browser_; }

protected:
    /// Escape closes the window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTextBrowser* browser_;
    int context_ = 0;
};

/// The one help window of the process (created on first use).
HelpWindow& Help();

}  // namespace sonvera
