// zelvanod and espa-slave as processes, and a small blocking HTTP client, for
// the tests that run the real service over a pseudo-terminal.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace zelvano::test {

struct HttpReply {
    int status = 0;                              // 0: no answer
    std::map<std::string, std::string> headers;  // names in lower case
    QByteArray body;
    QJsonObject Json() const;
};

// One request on its own connection; waits at most timeoutMs for the whole answer.
HttpReply Http(quint16 port, const QByteArray& method, const QByteArray& path,
               const QByteArray& body = {},
               const std::vector<std::pair<QByteArray, QByteArray>>& headers = {},
               int timeoutMs = 10000);

// A program run by the test, ended (SIGKILL) with the test.
class Program {
  public:
    ~Program() { Kill(); }
    void Start(const QString& path, const QStringList& arguments);
    void Kill();
    // Ends it with SIGTERM; its exit code, or -1 when it had to be killed.
    int Stop();
    // Everything it wrote so far (standard output and error together).
    std::string Output();
    // Waits until its output holds text; the line that holds it, or "".
    std::string WaitFor(const std::string& text, int ms = 10000);
    QProcess& Process() { return process_; }

  private:
    QProcess process_;
    std::string output_;
};

// espa-slave on a pseudo-terminal, or a TCP port; its path or tcp:// port
// once started.
std::string StartSlave(Program& slave, const std::filesystem::path& dir,
                       const QStringList& options = {}, bool tcp = false);
// zelvanod on port with the configuration lines given; its HTTP port once it
// listens, 0 when it did not start.
quint16 StartService(Program& service, const std::filesystem::path& stateDir,
                     const std::string& port, const std::vector<std::string>& config = {});
// How many times espa-slave took a call block for the address.
int PagesAt(const std::string& slaveLog, const std::string& address);

}  // namespace zelvano::test
