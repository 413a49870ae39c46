// SystemdNotify against a notify socket of the test's own, as systemd gives one.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdlib>

#include "SystemdNotify.h"
#include "support/TestApp.h"

namespace zelvano::service {
namespace {

// A datagram socket bound in a temporary folder, named by $NOTIFY_SOCKET.
class NotifySocket {
  public:
    NotifySocket() : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = (dir_.path() / "notify").string();
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    ~NotifySocket() {
        ::unsetenv("NOTIFY_SOCKET");
        ::close(fd_);
    }
    // The messages that came, in order.
    std::vector<std::string> Take() {
        std::vector<std::string> messages;
        char buffer[512];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof(buffer), 0)) > 0;)
            messages.emplace_back(buffer, static_cast<std::size_t>(n));
        return messages;
    }

  private:
    test::TempDir dir_;
    int fd_;
};

TEST(SystemdNotify, TellsReadinessStatusChangesAndStopping) {
    NotifySocket socket;
    std::size_t waiting = 2;
    SystemdNotify notify([&] { return waiting; });
    notify.Ready();
    LineView line;
    line.link = LinkState::Up;
    notify.LineUpdated(line);
    notify.CallUpdated(ServiceCall{});  // nothing changed: nothing sent
    waiting = 1;
    notify.CallUpdated(ServiceCall{});
    notify.Stopping();
    EXPECT_EQ(socket.Take(),
              (std::vector<std::string>{"READY=1", "STATUS=Line up, 2 calls waiting",
                                        "STATUS=Line up, 1 call waiting", "STOPPING=1"}));
    EXPECT_EQ(notify.WatchdogInterval().count(), 0);
}

TEST(SystemdNotify, PingsTheWatchdogAtHalfItsInterval) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name};
    QCoreApplication application(argc, argv);
    NotifySocket socket;
    ::setenv("WATCHDOG_USEC", "200000", 1);
    ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
    SystemdNotify notify([] { return std::size_t{0}; });
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
    QElapsedTimer clock;
    clock.start();
    std::vector<std::string> pings;
    while (pings.size() < 2 && clock.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        for (const std::string& message : socket.Take())
            pings.push_back(message);
    }
    EXPECT_EQ(pings, (std::vector<std::string>{"WATCHDOG=1", "WATCHDOG=1"}));
    EXPECT_GE(clock.elapsed(), 150);  // two pings 100 ms apart
}

}  // namespace
}  // namespace zelvano::service
