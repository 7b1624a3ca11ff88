#pragma once

#include <QEvent>

class QObject;

namespace sonvera {

// Application message numbers, counted from the platform's first private message.
inline constexpr int WM_USER = 0x400;
inline constexpr int WM_SPECTRUM_NEXT = WM_USER + 1;    // next spectrum block (main window)
inline constexpr int WM_SCOPE_NEXT = WM_USER + 2;       // next oscilloscope block (main window)
inline constexpr int WM_SWEEP_STEP = WM_USER + 3;       // next sweep step (main window)
inline constexpr int WM_CALIB_NEXT = WM_USER + 4;       // next calibration block (calibration dialog)
inline constexpr int WM_DIAGRAM_OPTIONS = WM_USER + 6;  // options changed (diagram window)
// The wave-input driver's "buffer done" notification, received by the hidden Tdummy.
inline constexpr int MM_WIM_DATA = 0x3C0;

/// Every message travels as a QEvent whose type is QEvent::User plus the message number,
/// so both the private and the platform numbers fall in Qt's user event range.
QEvent::Type AppEventType(int message);

/// The message number an event carries, or 0 when it is not one of ours.
int AppMessageOf(const QEvent* event);

/// An application message: posted, never sent, both parameters 0.
class AppMessageEvent : public QEvent {
public:
    explicit AppMessageEvent(int message);
    int Message() const { return message_; }

private:
    int message_;
};

/// Posts message to receiver through the event queue (safe from any thread). The
/// receiver dispatches it later on its own thread; posting is not checked.
void PostAppMessage(QObject* receiver, int message);

}  // namespace sonvera
