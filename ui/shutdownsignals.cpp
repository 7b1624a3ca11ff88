#include "ui/shutdownsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace sonvera {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe the handler writes to; only the handler and the one instance use it.
int signalPipe[2] = {-1, -1};
struct sigaction previous[3];

extern "C" void OnShutdownSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a signal the loop has not read; nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

ShutdownSignals::ShutdownSignals(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal))
{
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
    struct sigaction action {};
    action.sa_handler = &OnShutdownSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], &action, &previous[i]);
    }
    installed_ = true;
}

ShutdownSignals::~ShutdownSignals()
{
    if (!installed_) {
        return;
    }
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], &previous[i], nullptr);
    }
    notifier_.reset();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void ShutdownSignals::Drain()
{
    unsigned char byte = 0;
    int signal = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) {
        signal = byte;
    }
    if (signal != 0 && received_ == 0) {
        received_ = signal;
        if (onSignal_) {
            onSignal_(signal);
        }
    }
}

}  // namespace sonvera
