#include "app/QuitOnSignal.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>

namespace zelvano {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// One pair per process: [0] read by the event loop, [1] written by the handler.
int signalPair[2] = {-1, -1};
volatile std::sig_atomic_t requested = 0;

extern "C" void WriteSignalByte(int) {
    requested = 1;
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPair[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

QuitOnSignal::QuitOnSignal(std::function<void()> action, QObject* parent)
    : QObject(parent), action_(std::move(action)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPair) != 0)
        return;
    notifier_ = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitOnSignal::OnSignal);
    struct sigaction handler {};
    handler.sa_handler = WriteSignalByte;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &handler, nullptr);
}

QuitOnSignal::~QuitOnSignal() {
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

bool QuitOnSignal::Requested() const {
    return requested != 0;
}

void QuitOnSignal::OnSignal() {
    char bytes[16];
    while (::read(signalPair[0], bytes, sizeof bytes) > 0) {
    }
    // A box open at the time (the start-up one among them) would keep the
    // program running: it is closed first.
    for (int i = 0; i < 8 && QApplication::activeModalWidget() != nullptr; ++i)
        QApplication::activeModalWidget()->close();
    if (action_)
        action_();
}

}  // namespace zelvano
