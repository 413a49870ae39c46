// zelvano-call run as a script runs it, against espa-slave over a
// pseudo-terminal: one case per exit-code family, the runs side by side.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <QTcpServer>
#include <csignal>

#include "faults/ProcessRig.h"

namespace zelvano::proc {
namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

// The rig's line at log level 1: progress on stderr, no day files.
void StartCall(QProcess& call, Case& c, const QString& port, const QStringList& args) {
    Settings settings = LineSettings();
    settings.logLevel = 1;
    test::WriteFileBytes(c.data / "espa.set", FormatSettings(settings));
    const QString file = QString::fromStdString((c.data / "espa.set").string());
    call.start(ZELVANO_CALL_PATH, QStringList{"--settings", file, "--port", port} + args);
}

Result Finished(QProcess& call) {
    call.waitForFinished(60000);
    return {call.exitStatus() == QProcess::NormalExit ? call.exitCode() : -1,
            call.readAllStandardOutput().toStdString(), call.readAllStandardError().toStdString()};
}

QJsonObject Json(const Result& r) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
}

// With --json: the one object holds the exit code and the final word (null:
// none); out, when given, is the outcome line it stands for.
void ExpectJson(const Result& r, int code, const QJsonValue& final, const std::string& out = "") {
    const QJsonObject json = Json(r);
    EXPECT_EQ(json["exit"].toInt(-1), code) << r.out;
    EXPECT_EQ(json["final"], final) << r.out;
    if (!out.empty()) {
        EXPECT_EQ(
            (json["address"].toString() + " " + json["outcome"].toString()).toStdString() + "\n",
            out);
    }
}

struct Row {
    QStringList slave, args;
    int code;
    std::string out, err = {};  // err: in stderr; with --quiet stderr is empty
    QJsonValue final = {};      // with --json
};

// Every row against its own slave, all at once.
std::vector<Result> RunAll(const std::vector<Row>& rows) {
    std::vector<std::unique_ptr<Case>> cases;
    std::vector<std::unique_ptr<QProcess>> calls;
    for (const Row& row : rows) {
        cases.push_back(std::make_unique<Case>());
        EXPECT_TRUE(cases.back()->slave.Start(cases.back()->dir.path(), row.slave));
        calls.push_back(std::make_unique<QProcess>());
        // A slave on --listen writes HOST:PORT where the pty path would be.
        const QString port = QString(row.slave.contains("--listen") ? "tcp://" : "") +
                             QString::fromStdString(cases.back()->slave.pty);
        StartCall(*calls.back(), *cases.back(), port, QStringList{"--address", "6001"} + row.args);
    }
    std::vector<Result> results;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        results.push_back(Finished(*calls[i]));
        const Result& r = results.back();
        EXPECT_EQ(r.code, rows[i].code) << rows[i].slave.join(' ').toStdString() << r.err;
        if (rows[i].args.contains("--json")) {
            ExpectJson(r, rows[i].code, rows[i].final, rows[i].out);
        } else if (!rows[i].out.empty()) {
            EXPECT_EQ(r.out, rows[i].out);
        }
        if (rows[i].args.contains("--quiet")) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(rows[i].err), std::string::npos) << r.err;
        }
        // The block went out before the program ended, unless the line was dead.
        EXPECT_EQ(cases[i]->slave.Count("<- call block: 1=6001") > 0, rows[i].code != 40);
        if (i == 0) {
            EXPECT_EQ(cases[0]->slave.Count("<- call block: 1=6001 2=\"Grüße €\" 3=C 4=2 5=4 6=1 "
                                            "BCC ok"),
                      1);
        }
    }
    return results;
}

TEST(Sender, ExitCodeFamilies) {
    const std::vector<Result> results = RunAll({
        {{"--script", "DEFAULT=PAGED"},
         {"--json", "--text", "Grüße €", "--bleep", "c", "--calltype", "2", "--priority", "1",
          "--transmissions", "4"},
         0,
         "6001 PAGED\n",
         "STATUS: Call from ScreenPosition: 0 is now: PAGED",
         "PAGED"},
        {{"--script", "DEFAULT=SPEECHPAGED"}, {"--quiet"}, 0, "6001 SPEECHPAGED\n"},
        {{"--script", "DEFAULT=ABSENT"}, {"--quiet"}, 10, "6001 ABSENT\n"},
        {{"--script", "DEFAULT=PAGED", "--listen", "127.0.0.1:0"}, {"--quiet"}, 0, "6001 PAGED\n"},
        {{"--script", "DEFAULT=BUSY"}, {"--quiet"}, 11, "6001 BUSY\n"},
        {{"--script", "DEFAULT=TERMINATED"}, {"--quiet"}, 12, "6001 TERMINATED\n"},
        {{"--profile", "status-less", "--refuse-delay", "300"},
         {},
         20,
         "6001 NO STATUS\n",
         "STATUS: ESPA slave refuses status calls (SOH3)"},
        {{"--nak-block", "always"}, {}, 30, "6001 ERROR\n", "refused the call"},
        {{"--silent"},
         {"--timeout", "3", "--json"},
         40,
         "6001 NO ANSWER\n",
         "did not answer the line check"},
        // A block longer than the slave takes is broken off and never answered.
        {{},
         {"--json", "--timeout", "4", "--address", QString(5000, '7')},
         40,
         "",
         "zelvano-call: call block sent, the slave never answered it"},
        {{}, {"--wait", "accepted"}, 0, "6001 QUEUE\n", "Test ESPA connection -> OK!"},
        {{}, {"--wait", "none"}, 0, "6001 SENT\n", "STATUS: Call to Buffer for Pager: [6001]"},
    });
    const QJsonObject json = Json(results[0]);
    EXPECT_TRUE(QDateTime::fromString(json["started"].toString(), Qt::ISODateWithMs).isValid());
    QStringList words;
    double last = -1;
    for (const QJsonValue word : json["words"].toArray()) {
        words << word["word"].toString();
        EXPECT_GE(word["at"].toDouble(), last);
        last = word["at"].toDouble();
    }
    EXPECT_EQ(words.join('>'), "NEW>QUEUE>PAGED") << results[0].out;
}

// Nothing is opened or sent: the message names what is wrong.
TEST(Sender, BadArguments) {
    const std::vector<std::pair<QStringList, std::string>> rows = {
        {{"--text", "Zürich ł"}, "the character 'ł' (U+0142) has no single-byte"},
        {{"--text", "a\tb"}, "the control character U+0009 cannot be sent"},
        {{"--bleep", "G"}, "--bleep: 'G' is not one of 0, 1,"},
        {{"--transmissions", "5"}, "--transmissions: '5' is not one of 1, 2, 3, 4"},
        {{"--wait", "later"}, "--wait: 'later' is not one of none, accepted, final"},
        {{"--timeout", "0"}, "--timeout: '0' is not a number of seconds"},
        {{"--port", "COM9"}, "port numbers go from COM1 to COM8"},
        {{"--port", "tcp://host"}, "is not tcp://HOST:PORT"},
        {{"--speed", "9601"}, "--speed: '9601' is not one of 300, 1200,"},
        {{"--settings", "/no/such/espa.set"}, "--settings: cannot read /no/such/espa.set"},
        {{"--adress", "1"}, "unknown option '--adress'"},
        {{"--address", ""}, "--address is required"},
        {{"--text", QString(1001, u'é'), "--json"},
         "--text: 1001 characters, more than the 1000 a call's text may have"},
        {{"--json", "--adress", "1"}, "unknown option '--adress'"},
    };
    for (const auto& [args, message] : rows) {
        QProcess call;
        // Arguments that passed would end at once on the missing device.
        call.start(ZELVANO_CALL_PATH,
                   QStringList{"--address", "6001", "--port", "/dev/zelvano-no-such-tty"} + args);
        const Result r = Finished(call);
        EXPECT_EQ(r.code, 64) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        if (args.contains("--json")) {
            ExpectJson(r, 64, QJsonValue());
            EXPECT_EQ(Json(r)["error"].toString().toStdString(), message);
        } else {
            EXPECT_EQ(r.out, "");
        }
    }
}

// A port held by another master, a missing device and a refused network port
// end the run at once.
TEST(Sender, PortNotUsable) {
    Case c;
    ASSERT_TRUE(c.slave.Start(c.dir.path(), {}));
    QSerialPort holder(QString::fromStdString(c.slave.pty));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString refused = QString("tcp://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    const std::vector<std::pair<QString, std::string>> rows = {
        {QString::fromStdString(c.slave.pty), c.slave.pty + ": in use by another program"},
        {"/dev/zelvano-no-such-tty", "/dev/zelvano-no-such-tty: no such device"},
        {refused, refused.toStdString() + ": Connection refused"},
    };
    for (const auto& [port, reason] : rows) {
        QProcess call;
        QElapsedTimer took;
        took.start();
        StartCall(call, c, port, {"--address", "6001", "--timeout", "30", "--json"});
        const Result r = Finished(call);
        EXPECT_LT(took.elapsed(), 10000) << reason;  // the time-out is 30 s
        EXPECT_EQ(r.code, 74) << r.err;
        ExpectJson(r, 74, QJsonValue(), "6001 PORT UNUSABLE\n");
        EXPECT_NE(r.err.find("zelvano-call: port not usable: " + reason), std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("Error setting Comport"), std::string::npos) << r.err;
    }
    EXPECT_EQ(c.slave.Count("<-"), 0);  // nothing reached the slave
}

// A script's timeout (SIGTERM) or a closed terminal (SIGHUP) while the slave
// keeps silent: the port is closed and the outcome printed before the end.
TEST(Sender, SignalEndsTheRunCleanly) {
    for (const auto& [signal, args] : {std::pair{SIGTERM, QStringList{}}, {SIGHUP, {"--json"}}}) {
        Case c;
        ASSERT_TRUE(c.slave.Start(c.dir.path(), {"--silent"}));
        QProcess call;
        StartCall(call, c, QString::fromStdString(c.slave.pty),
                  QStringList{"--address", "6001"} + args);
        std::string err;
        ASSERT_TRUE(WaitUntil(
            [&] {
                return (err += call.readAllStandardError().toStdString()).find("opened for ESPA") !=
                       std::string::npos;
            },
            9000));
        ::kill(static_cast<pid_t>(call.processId()), signal);
        const Result r = Finished(call);
        EXPECT_EQ(r.code, 128 + signal);
        if (args.isEmpty()) {
            EXPECT_EQ(r.out, "6001 INTERRUPTED\n");
        } else {
            ExpectJson(r, 128 + signal, QJsonValue(), "6001 INTERRUPTED\n");
        }
        EXPECT_NE(r.err.find("Comport closed by software."), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace zelvano::proc
