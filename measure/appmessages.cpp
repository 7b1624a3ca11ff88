#include "measure/appmessages.h"

#include <QCoreApplication>
#include <QObject>

namespace sonvera {

namespace {

// Numbers above this are not ours (QEvent::MaxUser is 65535).
constexpr int kHighestMessage = 0xFFFF - QEvent::User;

}  // namespace

QEvent::Type AppEventType(int message)
{
    return static_cast<QEvent::Type>(QEvent::User + message);
}

int AppMessageOf(const QEvent* event)
{
    if (event == nullptr) {
        return 0;
    }
    const int message = static_cast<int>(event->type()) - QEvent::User;
    if (message <= 0 || message > kHighestMessage) {
        return 0;
    }
    return message;
}

AppMessageEvent::AppMessageEvent(int message) : QEvent(AppEventType(message)), message_(message) {}

void PostAppMessage(QObject* receiver, int message)
{
    if (receiver == nullptr) {
        return;
    }
    QCoreApplication::postEvent(receiver, new AppMessageEvent(message));
}

}  // namespace sonvera
