// zelvano-call through a running zelvanod: the call goes to the service that
// owns the port, through its local door (tools/zelvanod/LocalDoor.h), and is
// followed there up to the point --wait names, with the exit statuses and the
// JSON of a run on its own. When no service owns the port, the run goes on
// alone as it always did.
#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CallOptions.h"
#include "Outcome.h"

class QLocalSocket;

namespace zelvano::call {

// The services' sockets: *.sock in folder and in its direct subfolders
// (systemd template instances keep theirs one level deeper), sorted.
std::vector<std::filesystem::path> ServiceSockets(const std::filesystem::path& folder);

// The names a service may know the port by: as given, then the device that a
// COMn stands for through comports.cfg (or by default) when that differs.
std::vector<std::string> PortNames(const std::string& port, const std::filesystem::path& dataDir);

// The service's news of the call, from a "call" event.
struct ServiceNews {
    std::string state;  // the console's state words, EXPIRED and CANCELLED
    bool final = false;
    bool delivered = false;
    bool sent = false;
    std::string note;  // the newest history entry's, e.g. "call time-out"
};

// How the run ends.
struct Verdict {
    int code = 0;
    std::string word;
    std::string error;
    std::optional<std::string> final;
};

// The end the news brings to a caller that waits for wait, as a run on its
// own would end; nothing while the call goes on. EXPIRED (never sent) is not
// delivered, exit 40; CANCELLED (taken back at the service) is exit 30.
std::optional<Verdict> Judge(const ServiceNews& news, WaitFor wait);

class ServiceDoor : public QObject {
  public:
    // alone: starts the run on its own, when no service owns the port.
    ServiceDoor(const CallOptions& options, std::vector<std::string> ports,
                std::vector<std::filesystem::path> sockets, std::function<void()> alone);

    // Asks each socket in turn for each port name, without blocking: the first
    // service that takes the call is followed; none: the run goes on alone.
    void Start();
    // Ends the run: the call, when a service took it, stays with the service.
    void Interrupt(int signal);

  private:
    void TryNext();
    void Drop();
    void Connected();
    void Read();
    void Failed();
    void PassOver();
    void Closed();
    void Answer(const QJsonObject& event);
    void Follow(const QJsonObject& call);
    void TimeUp();
    void Lost();
    std::string Stays() const;
    void Progress(const std::string& text) const;
    void Finish(Verdict verdict);

    const CallOptions& options_;
    std::vector<std::string> ports_;
    std::vector<std::filesystem::path> sockets_;
    std::function<void()> alone_;
    // The (socket, port name) pairs, socket by socket: the one asked, the next.
    std::size_t current_ = 0;
    std::size_t next_ = 0;
    std::filesystem::path socketPath_;
    QLocalSocket* socket_ = nullptr;
    QTimer answerWait_;
    QTimer deadline_;
    QElapsedTimer elapsed_;
    std::int64_t callId_ = 0;  // the service's call, once one took it
    bool delivered_ = false;
    qsizetype wordsSeen_ = 0;  // history entries already in the outcome
    bool finished_ = false;
    Outcome outcome_;
};

}  // namespace zelvano::call
