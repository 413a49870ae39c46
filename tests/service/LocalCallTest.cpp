// zelvano-call beside a running zelvanod: handed to the service that owns the
// port through its socket, alone on any other port.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonDocument>

#include "ServiceDoor.h"
#include "ServiceProcess.h"
#include "service/Journal.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

namespace fs = std::filesystem;
using call::WaitFor;

// A socket file whose listener is gone, as a killed service leaves it.
void LeaveStaleSocket(const fs::path& file) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    file.string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

struct Row {
    std::string port;  // "service": the service's line; "other": a slave no service owns
    QStringList args;
    int exit;
    QJsonValue final;
    bool via;  // the call went through the service
    std::string error = {};
};

TEST(LocalCall, handsTheCallToTheServiceThatOwnsThePort) {
    TempDir dir;
    Program slave, other, service;
    for (const char* sub : {"a", "b", "run"})
        fs::create_directories(dir.path() / sub);
    const std::string pty = StartSlave(slave, dir.path() / "a");
    const std::string otherPty = StartSlave(other, dir.path() / "b");
    ASSERT_FALSE(pty.empty() || otherPty.empty()) << slave.Output() << other.Output();
    // A template instance's socket is one level down, beside a stale one.
    const fs::path run = dir.path() / "run";
    LeaveStaleSocket(run / "gone.sock");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZELVANO_RUNTIME_DIR", QString::fromStdString((run / "site").string()));
    service.Process().setProcessEnvironment(environment);
    ASSERT_NE(StartService(service, dir.path(), pty), 0) << service.Output();
    environment.insert("ZELVANO_RUNTIME_DIR", QString::fromStdString(run.string()));
    const fs::path settings = dir.path() / "espa.set";
    WriteFileBytes(settings, FormatSettings(Settings{}));

    const std::vector<std::pair<std::string, Row>> rows = {
        {"6001", {"service", {}, 0, "PAGED", true}},
        {"6002", {"service", {"--wait", "accepted"}, 0, QJsonValue(), true}},
        {"60030000000000000", {"service", {}, 64, QJsonValue(), false, "--address: longer"}},
        {"6004", {"other", {}, 0, "PAGED", false}},
        {"6005", {"service", {"--no-service"}, 74, QJsonValue(), false, "in use"}},
        {"6006", {"other", {"--service"}, 74, QJsonValue(), false, "no running zelvanod"}},
    };
    std::vector<std::unique_ptr<QProcess>> calls;
    for (const auto& [address, row] : rows) {
        calls.push_back(std::make_unique<QProcess>());
        calls.back()->setProcessEnvironment(environment);
        const std::string port = row.port == "service" ? pty : otherPty;
        calls.back()->start(
            ZELVANO_CALL_PATH,
            QStringList{"--settings", QString::fromStdString(settings.string()), "--port",
                        QString::fromStdString(port), "--address", QString::fromStdString(address),
                        "--json", "--timeout", "60"} +
                row.args);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& [address, row] = rows[i];
        ASSERT_TRUE(calls[i]->waitForFinished(70000)) << address;
        const std::string err = calls[i]->readAllStandardError().toStdString();
        const QJsonObject json =
            QJsonDocument::fromJson(calls[i]->readAllStandardOutput()).object();
        EXPECT_EQ(calls[i]->exitCode(), row.exit) << address << ": " << err;
        EXPECT_EQ(json.value("exit").toInt(-1), row.exit) << address;
        EXPECT_EQ(json.value("final"), row.final) << address;
        EXPECT_NE(json.value("error").toString().toStdString().find(row.error), std::string::npos)
            << address << ": " << err;
        EXPECT_EQ(err.find("via zelvanod " + (run / "site").string()) != std::string::npos, row.via)
            << address << ": " << err;
        EXPECT_EQ(err.find("gone.sock"), std::string::npos) << address << ": " << err;
        if (row.exit == 0)  // read what the slave wrote by now
            (row.port == "service" ? slave : other).WaitFor("call " + address + " received");
        const int pages = PagesAt(slave.Output(), address) + PagesAt(other.Output(), address);
        EXPECT_EQ(pages, row.exit == 0 ? 1 : 0) << address;
    }
    EXPECT_EQ(service.Stop(), 0) << service.Output();
    std::string error;
    const auto journal = Journal::Open(dir.path() / "journal.db", error);
    ASSERT_TRUE(journal) << error;
    std::map<std::string, std::string> clients;  // by address
    for (const ServiceCall& call : journal->List({}))
        clients[call.request.address] = call.client;
    const std::map<std::string, std::string> expected = {
        {"6001", "local:" + std::to_string(getuid())},
        {"6002", "local:" + std::to_string(getuid())}};
    EXPECT_EQ(clients, expected);
}

// How the service's words end the run, beyond the console's own.
TEST(LocalCall, judgesTheServiceNewsAsARunAloneWould) {
    struct JudgeRow {
        call::ServiceNews news;
        WaitFor wait;
        int exit;  // -1: the run goes on
        std::string word;
        std::optional<std::string> final;
    };
    const std::vector<JudgeRow> rows = {
        {{"PAGED", true, true, true, ""}, WaitFor::Final, 0, "PAGED", "PAGED"},
        {{"NO STATUS", true, true, true, ""}, WaitFor::Final, 20, "NO STATUS", "NO STATUS"},
        {{"ERROR", true, false, true, "call time-out"}, WaitFor::Final, 40, "NO ANSWER", {}},
        {{"ERROR", true, true, true, "call time-out"}, WaitFor::Final, 30, "ERROR", "ERROR"},
        {{"EXPIRED", true, false, false, "not sent"}, WaitFor::Final, 40, "NO ANSWER", {}},
        {{"CANCELLED", true, false, false, ""}, WaitFor::None, 30, "CANCELLED", "CANCELLED"},
        {{"QUEUE", false, true, true, ""}, WaitFor::Final, -1, "", {}},
        {{"QUEUE", false, true, true, ""}, WaitFor::Accepted, 0, "QUEUE", {}},
        {{"NEW", false, false, true, ""}, WaitFor::Accepted, -1, "", {}},
        {{"NEW", false, false, true, ""}, WaitFor::None, 0, "SENT", {}},
    };
    for (const JudgeRow& row : rows) {
        const auto verdict = call::Judge(row.news, row.wait);
        const std::string name = row.news.state + " " + std::to_string(static_cast<int>(row.wait));
        ASSERT_EQ(verdict.has_value(), row.exit >= 0) << name;
        if (!verdict)
            continue;
        EXPECT_EQ(verdict->code, row.exit) << name;
        EXPECT_EQ(verdict->word, row.word) << name;
        EXPECT_EQ(verdict->final, row.final) << name;
        EXPECT_EQ(verdict->error.empty(), row.exit < 30) << name;
    }
}

}  // namespace
}  // namespace zelvano::test
