// The HTTP API on a real socket, over the desk, the fake line and the
// simulated paging system in this process; clients are raw sockets on the
// Qt loop.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include "HttpApi.h"
#include "ServiceRig.h"

namespace zelvano::service {
namespace {

using test::Page;
using test::ServiceRig;

// One exchange: the request goes out at once, the answer is read until the
// server closes (every request says "Connection: close").
struct Client {
    Client(quint16 port, const std::string& request, const QHostAddress& host = {}) {
        QObject::connect(socket.get(), &QTcpSocket::readyRead, [this] { in += socket->readAll(); });
        socket->connectToHost(host.isNull() ? QHostAddress(QHostAddress::LocalHost) : host, port);
        socket->write(request.data(), static_cast<qint64>(request.size()));
    }
    bool Closed() const { return socket->state() == QAbstractSocket::UnconnectedState; }

    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray in;
};

struct Answer {
    int status = 0;  // 0: closed without an answer
    std::map<std::string, std::string> headers;
    QByteArray body;
    QJsonObject json;
};

Answer Parse(const QByteArray& raw) {
    Answer answer;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return answer;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    answer.status = lines[0].split(' ').value(1).toInt();
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        answer.headers[line.left(colon).toLower().toStdString()] =
            line.mid(colon + 1).trimmed().toStdString();
    }
    answer.body = raw.mid(end + 4);
    answer.json = QJsonDocument::fromJson(answer.body).object();
    return answer;
}

// "METHOD /path|Header: value|..." with the default token unless another
// Authorization is given.
std::string Request(const std::string& line, const std::string& body = {}) {
    QStringList parts = QString::fromStdString(line).split('|');
    std::string out = parts.takeFirst().toStdString() + " HTTP/1.1\r\nHost: test\r\n";
    if (line.find("Authorization") == std::string::npos)
        out += "Authorization: Bearer secret\r\n";
    for (const QString& header : parts)
        out += header.toStdString() + "\r\n";
    if (!body.empty())
        out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return out + "Connection: close\r\n\r\n" + body;
}

HttpApiOptions Options() {
    HttpApiOptions options;
    options.tokens = [](const std::string& token) -> std::optional<std::string> {
        return token == "secret" ? std::optional<std::string>("alarms") : std::nullopt;
    };
    options.postsPerSecond = 0.01;
    options.postBurst = 2;
    return options;
}

struct Api {
    explicit Api(ServiceLimits limits = {}, HttpApiOptions options = Options(),
                 const std::string& host = "127.0.0.1")
        : rig({}, limits), api(*rig.service, std::move(options)) {
        std::string error;
        EXPECT_TRUE(api.Listen(host, 0, error)) << error;
    }
    // Runs the Qt loop (and the line, when tick) until done or the time is up.
    template <typename F>
    bool Until(F done, bool tick = false, int ms = 10000) {
        QElapsedTimer clock;
        clock.start();
        QTimer wake;  // the wait for events ends at least this often
        wake.start(10);
        while (!done() && !clock.hasExpired(ms)) {
            if (tick)
                rig.Tick();
            QCoreApplication::processEvents(tick ? QEventLoop::AllEvents
                                                 : QEventLoop::WaitForMoreEvents);
        }
        return done();
    }
    Answer Fetch(const std::string& line, const std::string& body = {}) {
        Client client(api.Port(), Request(line, body));
        EXPECT_TRUE(Until([&] { return client.Closed(); })) << line;
        return Parse(client.in);
    }
    std::int64_t Submit(const std::string& address) {
        return rig.service->Submit(Page(address), "alarms").call.id;
    }

    ServiceRig rig;
    HttpApi api;
};

// "key=value" of the JSON answer (an array as [size]), "@header=value", "~in the body";
// '$' stands for a space.
void Check(const Answer& answer, const std::string& expect) {
    for (QString item : QString::fromStdString(expect).split(' ', Qt::SkipEmptyParts)) {
        item.replace('$', ' ');
        if (item.startsWith('~')) {
            EXPECT_TRUE(answer.body.contains(item.mid(1).toUtf8())) << item.toStdString();
            continue;
        }
        const std::string key = item.section('=', 0, 0).toStdString();
        const std::string want = item.section('=', 1).toStdString();
        if (key[0] == '@') {
            EXPECT_EQ(answer.headers.count(key.substr(1)) ? answer.headers.at(key.substr(1)) : "-",
                      want);
            continue;
        }
        const QJsonValue value = answer.json.value(QString::fromStdString(key));
        const std::string got =
            value.isArray() ? "[" + std::to_string(value.toArray().size()) + "]"
            : value.isBool()
                ? (value.toBool() ? "true" : "false")
                : (value.isDouble() ? QString::number(value.toDouble()) : value.toString())
                      .toStdString();
        EXPECT_EQ(got, want) << key;
    }
}

// Before each row, call 1 (address 123) waits in front of the engine.
enum class Setup { None, KeyUsed, RateUsed, QueueFull, OnLine, Final, JournalBroken, JournalTold };

struct Row {
    const char* name;
    Setup setup;
    std::string request;
    std::string body;
    int status;
    const char* expect;
};

const std::string kFire = R"({"address":"200","text":"FIRE"})";

const Row kRows[] = {
    {"PostAccepted", Setup::None, "POST /v1/calls", kFire, 202,
     "id=2 address=200 text=FIRE bleep=1 client=alarms final=false @location=/v1/calls/2"},
    {"RepeatedKeyGivesTheFirstCall", Setup::KeyUsed, "POST /v1/calls|Idempotency-Key: k1", kFire,
     200, "id=2 address=200 @location=/v1/calls/2"},
    {"KeyTooLong", Setup::None, "POST /v1/calls|Idempotency-Key: " + std::string(201, 'k'), kFire,
     400, "field=Idempotency-Key"},
    {"MalformedJson", Setup::None, "POST /v1/calls", "{\"address\":", 400, "field=body"},
    {"UnknownField", Setup::None, "POST /v1/calls", R"({"address":"1","colour":"red"})", 400,
     "field=colour"},
    {"MistypedField", Setup::None, "POST /v1/calls", R"({"address":1})", 400, "field=address"},
    {"TextWithoutSingleByteCode", Setup::None, "POST /v1/calls",
     R"({"address":"1","text":"\u2135"})", 400, "field=text"},
    {"AddressUnsendable", Setup::None, "POST /v1/calls", R"({"address":"1\u0002"})", 400,
     "field=address"},
    {"BodyTooLarge", Setup::None, "POST /v1/calls|Content-Length: 65537", "", 413, "field=body"},
    {"NoBearerToken", Setup::None, "POST /v1/calls|Authorization: Basic dTpw", kFire, 401,
     "field=Authorization @www-authenticate=Bearer$realm=\"zelvanod\""},
    {"UnknownToken", Setup::None, "GET /v1/line|Authorization: Bearer guess", "", 401,
     "@www-authenticate=Bearer$realm=\"zelvanod\",$error=\"invalid_token\""},
    {"QueueFull", Setup::QueueFull, "POST /v1/calls", kFire, 503, "@retry-after=5"},
    {"JournalFails", Setup::JournalBroken, "POST /v1/calls", kFire, 503, "@retry-after=30"},
    {"HealthAfterJournalFailed", Setup::JournalTold, "GET /healthz", "", 503, "status=failing"},
    {"HealthNeedsNoToken", Setup::None, "GET /healthz|Authorization: none", "", 200, "status=ok"},
    {"RateLimited", Setup::RateUsed, "POST /v1/calls", kFire, 429, "@retry-after=100"},
    {"GetCall", Setup::None, "GET /v1/calls/1", "", 200, "id=1 address=123 state=NEW history=[1]"},
    {"GetUnknownCall", Setup::None, "GET /v1/calls/99", "", 404, "error=no$such$call"},
    {"GetNoNumber", Setup::None, "GET /v1/calls/1a", "", 404, ""},
    {"WaitWordUnknown", Setup::None, "GET /v1/calls/1?wait=soon", "", 400, "field=wait"},
    {"WaitTimeoutMalformed", Setup::None, "GET /v1/calls/1?wait=final&timeout=-1", "", 400,
     "field=timeout"},
    {"WaitTimesOutWithTheState", Setup::None, "GET /v1/calls/1?wait=accepted&timeout=1", "", 200,
     "id=1 final=false delivered=false"},
    {"WaitOverAlready", Setup::Final, "GET /v1/calls/1?wait=final", "", 200,
     "state=CANCELLED final=true"},
    {"ListByState", Setup::Final, "GET /v1/calls?state=CANCELLED&limit=5", "", 200, "calls=[1]"},
    {"ListSinceEpochMs", Setup::None, "GET /v1/calls?since=1800000000000", "", 200, "calls=[1]"},
    {"ListSinceIsoLater", Setup::None, "GET /v1/calls?since=2027-01-15T08:00:01Z", "", 200,
     "calls=[0]"},
    {"ListStateUnknown", Setup::None, "GET /v1/calls?state=LOST", "", 400, "field=state"},
    {"ListSinceMalformed", Setup::None, "GET /v1/calls?since=yesterday", "", 400, "field=since"},
    {"ListLimitZero", Setup::None, "GET /v1/calls?limit=0", "", 400, "field=limit"},
    {"CancelWaiting", Setup::None, "DELETE /v1/calls/1", "", 200, "id=1 state=CANCELLED"},
    {"CancelUnknown", Setup::None, "DELETE /v1/calls/7", "", 404, ""},
    {"CancelOnTheLine", Setup::OnLine, "DELETE /v1/calls/1", "", 409, "~on$the$line"},
    {"CancelFinal", Setup::Final, "DELETE /v1/calls/1", "", 409, "~final"},
    {"Line", Setup::None, "GET /v1/line", "", 200, "link=unknown"},
    {"Metrics", Setup::None, "GET /metrics", "", 200,
     "~\nzelvano_queue_depth$1\n ~zelvano_calls_accepted_total$1\n"},
    {"UnknownPath", Setup::None, "GET /v1/call", "", 404, "error=no$such$path"},
    {"WrongMethod", Setup::None, "PUT /v1/calls", "", 405, "@allow=GET,$POST"},
    {"WrongMethodOnCall", Setup::None, "POST /v1/calls/1", kFire, 405, "@allow=GET,$DELETE"},
};

TEST(HttpApi, Requests) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        ServiceLimits limits;
        limits.queueLimit = row.setup == Setup::QueueFull ? 1 : 100;
        Api t(limits);
        if (row.setup != Setup::OnLine)
            t.rig.CutLine();
        ASSERT_EQ(t.Submit("123"), 1);
        if (row.setup == Setup::KeyUsed)
            t.rig.service->Submit(Page("200", "FIRE"), "alarms", "k1");
        for (int i = 0; row.setup == Setup::RateUsed && i < 2; ++i)
            EXPECT_EQ(t.Fetch("POST /v1/calls", kFire).status, 202);
        if (row.setup == Setup::OnLine) {
            ASSERT_TRUE(t.rig.TickUntil([&] { return t.rig.service->Find(1)->sent; }, 10));
        }
        if (row.setup == Setup::Final)
            t.rig.service->Cancel(1);
        if (row.setup == Setup::JournalBroken || row.setup == Setup::JournalTold) {
            sqlite3* db = nullptr;
            sqlite3_open(t.rig.JournalFile().c_str(), &db);
            EXPECT_EQ(sqlite3_exec(db, "DROP TABLE history; DROP TABLE calls", 0, 0, 0), SQLITE_OK);
            sqlite3_close(db);
        }
        if (row.setup == Setup::JournalTold) {
            EXPECT_EQ(t.Fetch("POST /v1/calls", kFire).status, 503);
        }
        const Answer answer = t.Fetch(row.request, row.body);
        EXPECT_EQ(answer.status, row.status) << answer.body.toStdString();
        Check(answer, row.expect);
    }
}

TEST(HttpApi, LongPollsEndWhenTheCallIsAcceptedOrFinalThenMetricsCountIt) {
    Api t;
    t.Submit("123");
    Client accepted(t.api.Port(), Request("GET /v1/calls/1?wait=accepted"));
    Client final(t.api.Port(), Request("GET /v1/calls/1?wait=final&timeout=300"));
    ASSERT_TRUE(t.Until([&] { return t.api.Waiting() == 2; }));
    ASSERT_TRUE(t.Until([&] { return accepted.Closed(); }, true));
    EXPECT_FALSE(final.Closed());
    Check(Parse(accepted.in), "delivered=true final=false");
    ASSERT_TRUE(t.Until([&] { return final.Closed(); }, true));
    Check(Parse(final.in), "state=PAGED final=true");

    const Answer metrics = t.Fetch("GET /metrics");
    Check(metrics,
          "~zelvano_calls_final_total{state=\"PAGED\"}$1\n ~zelvano_line_up$1\n "
          "~zelvano_exchanges_total$1\n ~zelvano_journal_write_seconds_count$");
    const QRegularExpression line(
        R"(^(# HELP (\w+) .+|# TYPE (\w+) (counter|gauge|summary)|(\w+)(\{state="[^"]*"\})? [0-9.e+-]+)$)");
    for (const QString& text : QString(metrics.body).split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.match(text).hasMatch()) << text.toStdString();
}

// Ten leave before their answer: it goes nowhere, safely.
TEST(HttpApi, FiftyClientsWaitAtOnce) {
    Api t;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 50; ++i) {
        const std::int64_t id = t.Submit(std::to_string(100 + i));
        clients.push_back(std::make_unique<Client>(
            t.api.Port(), Request("GET /v1/calls/" + std::to_string(id) + "?wait=final")));
    }
    ASSERT_TRUE(t.Until([&] { return t.api.Waiting() == 50; }));
    for (int i = 0; i < 50; i += 5)
        clients[i]->socket->abort();
    const auto allClosed = [&] {
        return std::all_of(clients.begin(), clients.end(), [](auto& c) { return c->Closed(); });
    };
    ASSERT_TRUE(t.Until(allClosed, true));
    for (int i = 0; i < 50; ++i)
        Check(Parse(clients[i]->in), i % 5 ? "final=true id=" + std::to_string(i + 1) : "");
    EXPECT_EQ(t.api.Waiting(), 0u);
}

TEST(HttpApi, EventStreamTellsCallsKeepsAliveAndEndsOnStop) {
    HttpApiOptions options = Options();
    options.server.keepAliveMs = 50;
    Api t({}, options);
    Client events(t.api.Port(), Request("GET /v1/events"));
    ASSERT_TRUE(t.Until([&] { return events.in.contains("event: line\ndata: {"); }));
    EXPECT_EQ(Parse(events.in).headers["content-type"], "text/event-stream");
    EXPECT_EQ(t.Fetch("POST /v1/calls", kFire).status, 202);
    ASSERT_TRUE(t.Until([&] { return events.in.contains("event: call\ndata: {"); }));
    const qsizetype data = events.in.indexOf("event: call\ndata: ") + 18;
    const QByteArray json = events.in.mid(data, events.in.indexOf('\n', data) - data);
    EXPECT_EQ(QJsonDocument::fromJson(json)["address"].toString(), "200");
    ASSERT_TRUE(t.Until([&] { return events.in.contains(": keep-alive\n\n"); }));
    t.api.Stop();
    ASSERT_TRUE(t.Until([&] { return events.Closed(); }));
    EXPECT_TRUE(events.in.endsWith("\r\n0\r\n\r\n"));  // the chunked body's own end
}

TEST(HttpApi, LimitsConnectionsAndDropsSlowClients) {
    HttpApiOptions options = Options();
    options.server.connectionLimit = 2;
    options.server.timeoutSeconds = 1;
    Api t({}, options);
    t.Submit("123");
    Client a(t.api.Port(), Request("GET /v1/calls/1?wait=final"));
    Client b(t.api.Port(), Request("GET /v1/calls/1?wait=final"));
    ASSERT_TRUE(t.Until([&] { return t.api.Waiting() == 2; }));
    // A third waits to be taken until one of the two is done.
    Client third(t.api.Port(), Request("GET /healthz"));
    EXPECT_FALSE(t.Until([&] { return third.Closed(); }, false, 300));
    t.rig.service->Cancel(1);
    ASSERT_TRUE(t.Until([&] { return a.Closed() && b.Closed() && third.Closed(); }));
    EXPECT_EQ(Parse(third.in).status, 200);
    Client slow(t.api.Port(), "GET /healthz HTTP/1.1\r\nHost: te");
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(t.Until([&] { return slow.Closed(); }));
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_TRUE(slow.in.isEmpty());
}

TEST(HttpApi, ListensOnIpv6WithoutTokensAndRefusesNames) {
    Api t({}, {}, "::1");
    Client client(t.api.Port(), Request("POST /v1/calls", kFire), QHostAddress::LocalHostIPv6);
    ASSERT_TRUE(t.Until([&] { return client.Closed(); }));
    Check(Parse(client.in), "client=anonymous");
    HttpServer other({}, nullptr);
    std::string error;
    EXPECT_FALSE(other.Listen("example.org", 0, error));
    EXPECT_EQ(error, "not an IP address: \"example.org\"");
}

TEST(HttpApi, ServesTlsWithACertificateAndKey) {
    test::TempDir dir;
    const QString cert = QString::fromStdString(dir.path() / "cert.pem");
    const QString key = QString::fromStdString(dir.path() / "key.pem");
    QProcess openssl;
    openssl.setStandardOutputFile(QProcess::nullDevice());
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                              "-subj", "/CN=localhost", "-keyout", key, "-out", cert});
    if (!openssl.waitForFinished() || openssl.exitCode() != 0)
        GTEST_SKIP() << "no openssl to make a certificate";
    HttpApiOptions options = Options();
    options.server.certFile = cert.toStdString();
    options.server.keyFile = key.toStdString();
    Api t({}, options);
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted("127.0.0.1", t.api.Port());
    const std::string request = Request("GET /v1/line");
    socket.write(request.data(), static_cast<qint64>(request.size()));
    QByteArray in;
    QObject::connect(&socket, &QSslSocket::readyRead, [&] { in += socket.readAll(); });
    ASSERT_TRUE(t.Until([&] { return socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(Parse(in).status, 200);
}

}  // namespace
}  // namespace zelvano::service

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
