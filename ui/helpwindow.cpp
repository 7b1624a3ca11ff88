#include "ui/helpwindow.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>


// Resources of a static library must be registered by name from the global namespace.
static void InitHelpResources()
{
    Q_INIT_RESOURCE(help);
}

namespace sonvera {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    InitHelpResources();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Sonvera Hilfe"));
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(520, 460);
}

QString HelpWindow::PageFor(int context)
{
    // The notebook pages share the page of the controls on them.
    switch (context) {
    case 50: context = 6; break;
    case 51: context = 9; break;
    case 52: context = 10; break;
    default: break;
    }
    const QString page = QStringLiteral(":/help/context%1.html").arg(context);
    return QFile::exists(page) ? page : QStringLiteral(":/help/context2.html");
}

void HelpWindow::ShowContext(int context)
{
    context_ = context;
    browser_->setSource(QUrl(QStringLiteral("qrc") + PageFor(context)));
    show();
    raise();
}

void HelpWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

HelpWindow& Help()
{
    // A window must go before the application object does; a static owner would
    // outlive it. So the window is deleted when the event loop ends.
    static QPointer<HelpWindow> window;
    if (!window) {
        window = new HelpWindow();
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { delete window.data(); });
    }
    return *window;
}

}  // namespace sonvera
