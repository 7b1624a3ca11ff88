#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace sonvera {

/// Turns SIGINT, SIGTERM and SIGHUP into an orderly end on the GUI thread, so the
/// program's normal shutdown (volumes given back, settings saved) runs when it is
/// interrupted or killed politely. The signal handler only writes one byte to a pipe
/// (async-signal-safe); a socket notifier reads it in the event loop and calls
/// `onSignal` with the signal's number. A handler answers once: a second signal of the
/// same kind ends the process the default way. One instance at a time; the destructor
/// puts the previous handlers back.
class ShutdownSignals : public QObject {
public:
    explicit ShutdownSignals(std::function<void(int)> onSignal);
    ~ShutdownSignals() override;
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

    /// Whether the handlers are in place (the pipe could be made).
    bool Installed() const { return installed_; }
    /// The signal that arrived, 0 while none has.
    int Received() const { return received_; }

private:
    void Drain();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool installed_ = false;
    int received_ = 0;
};

}  // namespace sonvera
