#include "driver/SignalWatch.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace zelvano {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// One pair per process: [0] read by the event loop, [1] written by the handler.
int signalPair[2] = {-1, -1};
volatile std::sig_atomic_t requested = 0;

extern "C" void WriteSignalByte(int signal) {
    requested = 1;
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPair[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

SignalWatch::SignalWatch(std::function<void(int)> action, QObject* parent)
    : QObject(parent), action_(std::move(action)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPair) != 0)
        return;
    notifier_ = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalWatch::OnSignal);
    struct sigaction handler {};
    handler.sa_handler = WriteSignalByte;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &handler, nullptr);
}

SignalWatch::~SignalWatch() {
    for (const int signal : kSignals)
        std::signal(signal, SIG_DFL);
    delete notifier_;
    for (int& fd : signalPair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    requested = 0;
}

bool SignalWatch::Requested() const {
    return requested != 0;
}

void SignalWatch::OnSignal() {
    unsigned char signal = 0;
    while (::read(signalPair[0], &signal, 1) == 1) {
        if (action_)
            action_(signal);
    }
}

}  // namespace zelvano
