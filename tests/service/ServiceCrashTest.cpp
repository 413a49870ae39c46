#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cstdlib>

#include "ServiceProcess.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

int Setting(const char* variable, int fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? std::atoi(value) : fallback;
}

QByteArray CallBody(const std::string& address) {
    return QByteArray("{\"address\":\"") + address.c_str() + "\",\"text\":\"crash test\"}";
}

// A client posts calls while the service is killed (SIGKILL) every few
// accepted calls and started again on the same journal. Every call that got
// its 202 must end final and reach the slave; a resend costs at most one page
// a kill; a key posted again after a kill finds its call, never a second one.
// ZELVANO_CRASH_CALLS and ZELVANO_CRASH_EVERY scale it (scripts/crash-soak.sh).
TEST(ServiceProcess, killedAgainAndAgainLosesNoAcceptedCall) {
    const int calls = Setting("ZELVANO_CRASH_CALLS", 30);
    const int killEvery = Setting("ZELVANO_CRASH_EVERY", 10);
    TempDir dir;
    Program slave, service;
    // Over TCP: a killed master leaves a pseudo-terminal locked for good (the
    // slave holds its end open), where a device server takes the next one.
    // Quiet: the calls and little else, so its pipe holds a long run.
    const std::string pty = StartSlave(slave, dir.path(), {"--quiet"}, true);
    ASSERT_FALSE(pty.empty()) << slave.Output();
    // Calls end on the slave's ACK: the line, not the status polls, sets the pace.
    const std::vector<std::string> config = {"max-age = 3600", "[line]", "status-check = none"};
    quint16 port = StartService(service, dir.path(), pty, config);
    ASSERT_NE(port, 0) << service.Output();

    std::map<std::string, std::int64_t> ids;  // by address, which is also the key
    int kills = 0;
    for (int i = 0; i < calls; ++i) {
        const std::string address = std::to_string(70000 + i);
        const HttpReply reply = Http(port, "POST", "/v1/calls", CallBody(address),
                                     {{"Idempotency-Key", QByteArray::fromStdString(address)}});
        ASSERT_EQ(reply.status, 202) << reply.body.toStdString();
        ids[address] = reply.Json().value("id").toInteger();
        QThread::msleep(150);  // the line takes a call in well under a second
        slave.Output();
        if ((i + 1) % killEvery != 0)
            continue;
        service.Kill();
        ++kills;
        port = StartService(service, dir.path(), pty, config);
        ASSERT_NE(port, 0) << service.Output();
        // The caller never saw its answer, say: it posts the same key again.
        const HttpReply again = Http(port, "POST", "/v1/calls", CallBody(address),
                                     {{"Idempotency-Key", QByteArray::fromStdString(address)}});
        ASSERT_LT(again.status, 300) << again.body.toStdString();
        EXPECT_EQ(again.Json().value("id").toInteger(), ids[address]);
    }

    std::map<std::string, QJsonObject> ends;
    for (const auto& [address, id] : ids) {
        slave.Output();  // read as it comes: a full pipe would stop the slave
        const HttpReply reply =
            Http(port, "GET", "/v1/calls/" + QByteArray::number(id) + "?wait=final&timeout=120", {},
                 {}, 130000);
        ends[address] = reply.Json();
        ASSERT_TRUE(ends[address].value("final").toBool())
            << address << ": " << reply.body.toStdString();
    }
    // Stopped, the slave has written all it had to say.
    EXPECT_EQ(slave.Stop(), 0);
    const std::string slaveLog = slave.Output();
    int resends = 0;
    for (const auto& [address, call] : ends) {
        EXPECT_TRUE(call.value("delivered").toBool()) << address;
        const int pages = PagesAt(slaveLog, address);
        const int resent = call.value("resends").toInt();
        EXPECT_GE(pages, 1) << address;
        EXPECT_LE(pages, 1 + resent) << address;
        resends += resent;
    }
    EXPECT_LE(resends, kills);
    const HttpReply metrics = Http(port, "GET", "/metrics");
    EXPECT_NE(metrics.body.indexOf("zelvano_resends_total"), -1);
    EXPECT_EQ(service.Stop(), 0) << service.Output();
}

}  // namespace
}  // namespace zelvano::test
