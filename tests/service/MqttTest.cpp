// The MQTT bridge against a real broker (Debian's mosquitto, started here on a
// free port) over the paging service on the fake line, and a libmosquitto
// client on the other side.
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>
#include <algorithm>
#include <set>

#include "MqttBridge.h"
#include "ServiceRig.h"

namespace zelvano::test {
namespace {

using service::MqttBridge;
using service::MqttClient;
using service::MqttOptions;

// mosquitto on a port of its own, with its own configuration file.
class Broker {
  public:
    Broker() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
        probe.close();
        WriteFileBytes(config_, "listener " + std::to_string(port) +
                                    " 127.0.0.1\nallow_anonymous true\npersistence false\n");
        process_.setProcessChannelMode(QProcess::MergedChannels);
        Start();
    }
    ~Broker() { Stop(); }
    // Returns once it says it runs (it listens by then).
    void Start() {
        process_.start(QStandardPaths::findExecutable("mosquitto", {"/usr/sbin"}),
                       {"-c", QString::fromStdString(config_)});
        QByteArray said;
        while (!said.contains(" running") && process_.waitForReadyRead(5000))
            said += process_.readAll();
        ASSERT_TRUE(said.contains(" running")) << said.toStdString();
    }
    void Stop() {
        process_.terminate();
        process_.waitForFinished(5000);
    }

    TempDir dir;
    quint16 port = 0;

  private:
    std::string config_ = (dir.path() / "mosquitto.conf").string();
    QProcess process_;
};

struct Message {
    std::string topic;
    QByteArray payload;
    bool retained;
    QJsonObject json;
};

// The other side: a plain libmosquitto client, turned by the test's loop.
class Peer {
  public:
    explicit Peer(int port) : mosq_(mosquitto_new("peer", true, this)) {
        mosquitto_message_callback_set(
            mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
                const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
                static_cast<Peer*>(self)->messages.push_back(
                    {m->topic, payload, m->retain, QJsonDocument::fromJson(payload).object()});
            });
        mosquitto_connect_callback_set(mosq_, [](mosquitto* mosq, void* self, int) {
            for (const std::string& topic : static_cast<Peer*>(self)->topics_)
                mosquitto_subscribe(mosq, nullptr, topic.c_str(), 1);
        });
        mosquitto_connect(mosq_, "127.0.0.1", port, 30);
    }
    ~Peer() { mosquitto_destroy(mosq_); }
    // Again for a topic: the retained message comes again.
    void Subscribe(const std::string& topic) {
        topics_.push_back(topic);
        mosquitto_subscribe(mosq_, nullptr, topic.c_str(), 1);
    }
    void Publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(mosq_, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1,
                          false);
    }
    void Pump() {
        if (mosquitto_loop(mosq_, 0, 10) != MOSQ_ERR_SUCCESS)
            mosquitto_reconnect(mosq_);
    }
    std::vector<Message> On(const std::string& topic) const {
        std::vector<Message> found;
        std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                     [&](const Message& m) { return m.topic == topic; });
        return found;
    }

    std::vector<Message> messages;

  private:
    mosquitto* mosq_;
    std::vector<std::string> topics_;
};

MqttOptions Options(int port, const QString& line, const QString& clientId = {}) {
    MqttOptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.lineName = line;
    options.clientId = clientId;
    return options;
}

std::string Call(const std::string& fields) {
    return "{\"address\": " + fields + "}";
}

class Mqtt : public testing::Test {
  protected:
    // Turns the event loop and the peers, and ticks the rigs every 5 ms, until
    // done() or ms have passed.
    bool Until(const std::function<bool()>& done, int ms = 15000) {
        QElapsedTimer waited, tick;
        waited.start();
        tick.start();
        while (!done() && waited.elapsed() < ms) {
            QCoreApplication::processEvents();
            peer.Pump();
            if (tick.elapsed() >= 5) {
                tick.restart();
                for (ServiceRig* rig : rigs_)
                    rig->Tick();
            }
            QThread::usleep(500);
        }
        return done();
    }
    // A bridge for the rig on its line's prefix, connected and subscribed (its
    // line state, sent after its subscriptions, has reached the peer).
    std::unique_ptr<MqttBridge> Bridge(ServiceRig& rig, MqttOptions options) {
        rigs_.push_back(&rig);
        auto bridge = std::make_unique<MqttBridge>(*rig.service, options);
        EXPECT_TRUE(bridge->Start()) << bridge->Error().toStdString();
        const std::string line = bridge->Prefix().toStdString() + "/line";
        peer.Subscribe(line);
        EXPECT_TRUE(Until([&] { return !peer.On(line).empty(); }));
        return bridge;
    }
    // Distinct ids of calls whose final state the peer has seen.
    std::set<std::string> Finals() const {
        std::set<std::string> ids;
        for (const Message& m : peer.messages)
            if (m.json["final"].toBool())
                ids.insert(m.topic);
        return ids;
    }

    // "address text" of each call the rig's service took.
    static std::set<std::string> Taken(const ServiceRig& rig) {
        std::set<std::string> taken;
        for (const ServiceCall& call : rig.journal->List({}))
            taken.insert(call.request.address + " " + call.request.text);
        return taken;
    }

    Broker broker;
    Peer peer{broker.port};
    std::vector<ServiceRig*> rigs_;
};

TEST_F(Mqtt, callPublishedIsPagedAndItsStatesRetainedFinalLast) {
    ServiceRig rig;
    auto bridge = Bridge(rig, Options(broker.port, "desk"));
    const std::string state = "zelvano/desk/calls/a1/state";
    peer.Subscribe(state);
    peer.Subscribe("inbox/a1");
    peer.Publish("zelvano/desk/call",
                 Call(R"("1234", "text": "Hello", "id": "a1", "reply_to": "inbox/a1")"));
    ASSERT_TRUE(Until([&] { return Finals().size() == 2; }));
    for (const std::string& topic : {state, std::string("inbox/a1")}) {
        const auto states = peer.On(topic);
        ASSERT_GE(states.size(), 3u) << topic;
        EXPECT_EQ(states.front().json["state"], "NEW");
        EXPECT_EQ(states.back().json["state"], "PAGED");
        for (std::size_t i = 0; i + 1 < states.size(); ++i)
            EXPECT_FALSE(states[i].json["final"].toBool());
    }
    EXPECT_EQ(rig.service->Figures().exchanges, 1);
    const ServiceCall call = rig.journal->List({})[0];
    EXPECT_EQ(call.client + "/" + call.key + "/" + call.request.address, "mqtt/a1/1234");
    EXPECT_EQ(peer.On("zelvano/desk/line").back().json["state"], "up");

    peer.messages.clear();  // subscribed again: the retained state is the final one
    peer.Subscribe(state);
    ASSERT_TRUE(Until([&] { return !peer.messages.empty(); }));
    EXPECT_TRUE(peer.messages[0].retained);
    EXPECT_EQ(peer.messages[0].json["state"], "PAGED");
}

TEST_F(Mqtt, badMessagesAreAnsweredWithTheFieldAndQueueNothing) {
    struct Row {
        const char* in;
        std::string payload;
        const char* out;
        const char* field;  // "" for none
    };
    const Row rows[] = {
        {"call", "paging 1234", "errors", "body"},
        {"call", "[1234]", "errors", "body"},
        {"call", Call(R"("100", "colour": "red")"), "errors", "colour"},
        {"call", Call(R"("100", "id": "a/b")"), "errors", "id"},
        {"call", Call(R"("100", "id": {"n": 1})"), "errors", "id"},
        {"call", Call(R"("", "id": "b1")"), "calls/b1/state", "address"},
        {"call",
         Call(R"("100", "id": "b2", "text": ")" + std::string(kMaxCallTextLength + 1, 'x') + '"'),
         "calls/b2/state", "text"},
        {"call", Call(R"("100", "id": 7, "bleep": "G")"), "calls/7/state", "bleep"},
        {"call", Call(R"("100", "id": "b3", "reply_to": "inbox/#")"), "calls/b3/state", "reply_to"},
        {"call", Call(R"("100", "id": "b4")"), "calls/b4/state", ""},  // the queue is full
        {"notify", "Boiler fault", "errors", "address"},               // no default address
    };
    ServiceLimits limits;
    limits.queueLimit = 0;
    ServiceRig rig({}, limits);
    auto bridge = Bridge(rig, Options(broker.port, "desk"));
    peer.Subscribe("zelvano/desk/#");
    for (const Row& row : rows) {
        const std::string out = std::string("zelvano/desk/") + row.out;
        peer.messages.clear();
        peer.Publish(std::string("zelvano/desk/") + row.in, row.payload);
        ASSERT_TRUE(Until([&] { return !peer.On(out).empty(); })) << row.payload;
        const QJsonObject error = peer.On(out)[0].json;
        EXPECT_EQ(error["field"].toString().toStdString(), row.field) << row.payload;
        EXPECT_FALSE(error["error"].toString().isEmpty()) << row.payload;
    }
    EXPECT_TRUE(rig.journal->List({}).empty());
    EXPECT_EQ(rig.service->Figures().waiting, 0u);
}

// Calls sent while the broker restarts: the peer sends again, with the same
// id, each call it has not seen end; every call is paged exactly once.
TEST_F(Mqtt, brokerRestartedDuringARunLosesNoCallAndPagesNoneTwice) {
    ServiceRig rig;
    auto bridge = Bridge(rig, Options(broker.port, "desk"));
    peer.Subscribe("zelvano/desk/calls/+/state");
    const int calls = 12;
    auto send = [&](int i) {
        peer.Publish("zelvano/desk/call", Call('"' + std::to_string(300 + i) + R"(", "id": "r)" +
                                               std::to_string(i) + '"'));
    };
    for (int i = 0; i < calls / 2; ++i)
        send(i);
    ASSERT_TRUE(Until([&] { return Finals().size() >= 2; }));
    broker.Stop();
    for (int i = calls / 2; i < calls; ++i)
        send(i);
    broker.Start();
    QElapsedTimer sinceSent;
    sinceSent.start();
    EXPECT_TRUE(Until(
        [&] {
            if (sinceSent.elapsed() > 3000) {
                sinceSent.restart();
                for (int i = 0; i < calls; ++i)
                    if (!Finals().contains("zelvano/desk/calls/r" + std::to_string(i) + "/state"))
                        send(i);
            }
            return int(Finals().size()) == calls;
        },
        40000));
    EXPECT_EQ(rig.service->Figures().accepted, calls);
    EXPECT_EQ(rig.service->Figures().exchanges, calls);
    EXPECT_EQ(rig.service->Figures().retries, 0);
}

TEST_F(Mqtt, twoBridgesWithTwoPrefixesPageOnTheirOwnLines) {
    ServiceRig north, south;
    auto northBridge = Bridge(north, Options(broker.port, "north"));
    MqttOptions southOptions = Options(broker.port, "south");
    southOptions.prefix = "site/b";
    auto southBridge = Bridge(south, southOptions);
    peer.Subscribe("+/+/calls/+/state");
    peer.Publish("zelvano/north/call", Call(R"("201", "id": "n1")"));
    peer.Publish("site/b/call", Call(R"("202", "id": "s1")"));
    ASSERT_TRUE(Until([&] { return Finals().size() == 2; }));
    EXPECT_EQ(Finals(),
              (std::set<std::string>{"zelvano/north/calls/n1/state", "site/b/calls/s1/state"}));
    EXPECT_EQ(Taken(north), std::set<std::string>{"201 "});
    EXPECT_EQ(Taken(south), std::set<std::string>{"202 "});
    northBridge->Stop();  // the line topic says so
    EXPECT_TRUE(Until([&] { return peer.On("zelvano/north/line").back().payload == "offline"; }));
}

// Home Assistant's notify entity sends text, for the default address; JSON
// names the address as its title.
TEST_F(Mqtt, discoveryAnnouncesTheLineAndANotifyEntityThatPages) {
    ServiceRig rig;
    MqttOptions options = Options(broker.port, "desk");
    options.discovery = true;
    options.defaultAddress = "999";
    auto bridge = Bridge(rig, options);
    peer.Subscribe("homeassistant/#");
    const std::string sensorTopic = "homeassistant/binary_sensor/zelvano_desk/line/config";
    const std::string notifyTopic = "homeassistant/notify/zelvano_desk/page/config";
    ASSERT_TRUE(
        Until([&] { return !peer.On(sensorTopic).empty() && !peer.On(notifyTopic).empty(); }));
    const Message sensor = peer.On(sensorTopic)[0], notify = peer.On(notifyTopic)[0];
    EXPECT_EQ(sensor.json["state_topic"], "zelvano/desk/line");
    EXPECT_EQ(sensor.json["device_class"], "connectivity");
    EXPECT_EQ(notify.json["command_topic"], "zelvano/desk/notify");
    EXPECT_TRUE(sensor.retained && notify.retained);

    peer.Publish("zelvano/desk/notify", "Boiler fault");
    peer.Publish("zelvano/desk/notify", R"({"title": "555", "message": "Door open"})");
    ASSERT_TRUE(Until([&] { return Taken(rig).size() == 2; }));
    EXPECT_EQ(Taken(rig), (std::set<std::string>{"999 Boiler fault", "555 Door open"}));
}

// A client that dies while it handles a message has not acknowledged it: the
// broker delivers it again to the next client of that id, and publishes the
// dead one's last will.
TEST_F(Mqtt, messageInHandWhenTheClientDiesIsDeliveredAgain) {
    peer.Subscribe("crash/#");
    QProcess dying;
    dying.start(QCoreApplication::applicationFilePath(),
                {"--die-in-handler", QString::number(broker.port)});
    ASSERT_TRUE(Until([&] { return !peer.On("crash/ready").empty(); }));
    peer.Publish("crash/call", "{}");
    ASSERT_TRUE(Until([&] { return !peer.On("crash/will").empty(); }));
    EXPECT_EQ(peer.On("crash/will")[0].payload, "gone");

    MqttClient again(Options(broker.port, "", "crash"));
    int received = 0;
    again.SetMessageHandler([&](const QString&, const QByteArray&) { ++received; });
    ASSERT_TRUE(again.Start());
    EXPECT_TRUE(Until([&] { return received == 1; }));
}

// The dying client: subscribes, says it is ready, and ends in the handler.
int DieInHandler(int port) {
    MqttClient client(Options(port, "", "crash"));
    client.SetWill("crash/will", "gone");
    client.Subscribe("crash/call", 1);
    client.SetMessageHandler([](const QString&, const QByteArray&) { _exit(0); });
    QObject::connect(&client, &MqttClient::ConnectedChanged,
                     [&] { client.Publish("crash/ready", "{}", 1, false); });
    client.Start();
    QTimer::singleShot(15000, [] { _exit(1); });
    return QCoreApplication::exec();
}

}  // namespace
}  // namespace zelvano::test

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--die-in-handler")
        return zelvano::test::DieInHandler(std::stoi(argv[2]));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
