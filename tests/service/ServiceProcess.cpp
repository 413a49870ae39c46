#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QThread>

#include "support/TestApp.h"

namespace zelvano::test {

QJsonObject HttpReply::Json() const {
    return QJsonDocument::fromJson(body).object();
}

namespace {

// Splits a whole answer; false until all of it has arrived.
bool ParseReply(const QByteArray& raw, bool closed, HttpReply& reply) {
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    reply.status = lines.front().split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.headers[lines[i].left(colon).trimmed().toLower().toStdString()] =
                lines[i].mid(colon + 1).trimmed().toStdString();
    }
    reply.body = raw.mid(end + 4);
    const auto length = reply.headers.find("content-length");
    if (length != reply.headers.end())
        return reply.body.size() >= std::stoll(length->second);
    return closed;
}

}  // namespace

HttpReply Http(quint16 port, const QByteArray& method, const QByteArray& path,
               const QByteArray& body,
               const std::vector<std::pair<QByteArray, QByteArray>>& headers, int timeoutMs) {
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", port);
    HttpReply reply;
    if (!socket.waitForConnected(timeoutMs))
        return reply;
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    request += "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto& [name, value] : headers)
        request += name + ": " + value + "\r\n";
    socket.write(request + "\r\n" + body);
    QByteArray raw;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        const bool more = socket.waitForReadyRead(50);
        raw += socket.readAll();
        const bool closed = !more && socket.state() != QAbstractSocket::ConnectedState;
        if (ParseReply(raw, closed, reply))
            return reply;
        if (closed)
            break;
    }
    return HttpReply{};
}

void Program::Start(const QString& path, const QStringList& arguments) {
    output_.clear();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(path, arguments);
    process_.waitForStarted(5000);
}

void Program::Kill() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished(5000);
}

int Program::Stop() {
    process_.terminate();
    if (process_.waitForFinished(10000))
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    Kill();
    return -1;
}

std::string Program::Output() {
    // Without an event loop the pipe is read only when waited on.
    do
        output_ += process_.readAll().toStdString();
    while (process_.state() == QProcess::Running && process_.waitForReadyRead(20));
    return output_;
}

std::string Program::WaitFor(const std::string& text, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        const std::string all = Output();
        if (const auto at = all.find(text); at != std::string::npos) {
            const auto start = all.rfind('\n', at);
            const auto end = all.find('\n', at);
            return all.substr(start == std::string::npos ? 0 : start + 1,
                              end == std::string::npos
                                  ? std::string::npos
                                  : end - (start == std::string::npos ? 0 : start + 1));
        }
        if (process_.state() == QProcess::NotRunning)
            break;
        process_.waitForReadyRead(50);
    }
    return {};
}

std::string StartSlave(Program& slave, const std::filesystem::path& dir, const QStringList& options,
                       bool tcp) {
    const std::filesystem::path pathFile = dir / "slave.pty";
    QStringList arguments = options;
    if (tcp)
        arguments << "--listen"
                  << "127.0.0.1:0";
    slave.Start(ESPA_SLAVE_PATH,
                arguments << "--pty-file" << QString::fromStdString(pathFile.string()));
    QElapsedTimer waited;
    waited.start();
    while (!ReadFileBytes(pathFile).ends_with('\n') && waited.elapsed() < 9000)
        QThread::msleep(20);
    std::string pty = ReadFileBytes(pathFile);
    if (!pty.empty())
        pty.pop_back();
    return tcp && !pty.empty() ? "tcp://" + pty : pty;
}

quint16 StartService(Program& service, const std::filesystem::path& stateDir,
                     const std::string& port, const std::vector<std::string>& config) {
    const std::filesystem::path file = stateDir / "zelvanod.conf";
    std::string text;
    for (const std::string& line : config)
        text += line + "\n";
    WriteFileBytes(file, text);
    service.Start(ZELVANOD_PATH, {"--config", QString::fromStdString(file.string()), "--port",
                                  QString::fromStdString(port), "--listen", "127.0.0.1:0",
                                  "--state-dir", QString::fromStdString(stateDir.string())});
    const std::string line = service.WaitFor("LISTEN ");
    const auto colon = line.rfind(':');
    return colon == std::string::npos ? 0 : static_cast<quint16>(std::stoi(line.substr(colon + 1)));
}

int PagesAt(const std::string& slaveLog, const std::string& address) {
    int pages = 0;
    for (const char* what : {" received", " sent again"}) {
        const std::string needle = "call " + address + what;
        for (auto at = slaveLog.find(needle); at != std::string::npos;
             at = slaveLog.find(needle, at + 1))
            ++pages;
    }
    return pages;
}

}  // namespace zelvano::test
