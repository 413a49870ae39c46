// The service's door for local callers (zelvano-call): a Unix socket in the
// runtime folder, readable by the service's group. One request a connection,
// JSON lines both ways:
//   caller:  {"port": PORT, "call": {address, text, ...}, "wait": "none"|"accepted"|"final",
//             "key": KEY (optional)}
//   service: {"event": "other-port", "port": ITS PORT}        not this service's line
//            {"event": "refused", "field": F, "error": E}     nothing queued
//            {"event": "call", "call": CALL}                  each state, until the wait is over
// The service closes the connection when the wait is over; a caller that
// leaves early leaves its call queued.
#pragma once

#include <QLocalServer>
#include <QPointer>
#include <filesystem>
#include <map>
#include <string>

#include "RuntimeFolder.h"
#include "service/CallService.h"

class QLocalSocket;

namespace zelvano::service {

// Where services put their sockets (shared with zelvano-call, which looks there).
using ::zelvano::RuntimeFolder;

class LocalDoor : public QObject, public ServiceEvents {
    Q_OBJECT
  public:
    // ports: the names the service's line answers to (as configured, and the
    // device it stands for).
    LocalDoor(CallService& service, std::vector<std::string> ports, QObject* parent = nullptr);
    ~LocalDoor() override;

    // Listens at file (an older socket there is replaced); false with the reason.
    bool Listen(const std::filesystem::path& file, std::string& error);

    void CallUpdated(const ServiceCall& call) override;

  private:
    struct Waiter {
        QPointer<QLocalSocket> socket;
        std::string wait;
    };
    void Accept();
    void Read(QLocalSocket* socket);
    bool OwnsPort(const std::string& port) const;
    static bool WaitIsOver(const ServiceCall& call, const std::string& wait);
    static void Send(QLocalSocket* socket, const QJsonObject& message);

    CallService& service_;
    std::vector<std::string> ports_;
    QLocalServer server_;
    std::multimap<std::int64_t, Waiter> waiters_;  // by call id
};

}  // namespace zelvano::service
