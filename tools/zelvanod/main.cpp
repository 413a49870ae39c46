// zelvanod: the paging service other systems page through. One line, the
// paging core on the shared driver, a journal that survives a crash, and the
// doors: HTTP, MQTT and a local socket for zelvano-call.
#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "HttpApi.h"
#include "LocalDoor.h"
#include "MqttBridge.h"
#include "ServiceHost.h"
#include "ServiceOptions.h"
#include "SystemdNotify.h"
#include "driver/SignalWatch.h"

namespace {

using namespace zelvano;
using namespace zelvano::service;

constexpr int kExitCannotCreate = 73;  // the journal cannot be opened
constexpr int kExitUnavailable = 69;   // the listener cannot be opened

void Say(const std::string& text) {
    std::fprintf(stderr, "zelvanod: %s\n", text.c_str());
}

HttpApiOptions HttpOptionsFor(const ServiceOptions& o) {
    HttpApiOptions http;
    http.server.connectionLimit = static_cast<unsigned>(o.maxConnections);
    http.server.certFile = o.tlsCert;
    http.server.keyFile = o.tlsKey;
    http.postsPerSecond = o.rate;
    http.postBurst = std::max(1.0, 2 * o.rate);
    if (o.tokens) {
        http.tokens = [tokens = *o.tokens](const std::string& token) {
            return tokens.ClientFor(token);
        };
    }
    return http;
}

MqttOptions MqttOptionsFor(const ServiceOptions& o) {
    const MqttSettings& m = o.mqtt;
    MqttOptions mqtt;
    mqtt.host = QString::fromStdString(m.host);
    mqtt.port = m.port;
    mqtt.clientId = QString::fromStdString(m.clientId);
    mqtt.username = QString::fromStdString(m.username);
    mqtt.password = QString::fromStdString(m.password);
    mqtt.caFile = QString::fromStdString(m.caFile);
    mqtt.certFile = QString::fromStdString(m.certFile);
    mqtt.keyFile = QString::fromStdString(m.keyFile);
    mqtt.prefix = QString::fromStdString(m.prefix);
    mqtt.discovery = m.discovery;
    mqtt.defaultAddress = QString::fromStdString(m.defaultAddress);
    mqtt.lineName = QString::fromStdString(o.lineName);
    return mqtt;
}

// The names a local caller may give for this service's line.
std::vector<std::string> PortNames(const ServiceOptions& o) {
    std::vector<std::string> names;
    for (const std::string& name : {o.port, o.device}) {
        if (!name.empty())
            names.push_back(name);
    }
    return names;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("zelvanod");
    const ParsedServiceOptions parsed = ParseServiceOptions(args, CurrentEnvironment());
    const ServiceOptions& options = parsed.options;
    if (options.help) {
        std::fputs(ServiceHelpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("zelvanod %d.%d\n", ZELVANO_VERSION_MAJOR, ZELVANO_VERSION_MINOR);
        return 0;
    }
    if (!parsed.error.empty()) {
        Say(parsed.error);
        return parsed.exitCode;
    }

    ServiceHost host(HostConfigFor(options));
    std::string error;
    if (!host.Start(error)) {
        Say("journal: " + error);
        return kExitCannotCreate;
    }
    CallService& desk = host.Service();
    HttpApi http(desk, HttpOptionsFor(options));
    if (!http.Listen(options.listenHost, options.listenPort, error)) {
        Say("cannot listen: " + error);
        return kExitUnavailable;
    }
    if (options.listenPort == 0)
        std::fprintf(stderr, "LISTEN %s:%u\n", options.listenHost.c_str(), http.Port());

    LocalDoor door(desk, PortNames(options));
    if (const auto folder = RuntimeFolder(); !folder.empty() && options.lineConfigured) {
        // Without it zelvano-call cannot hand calls over; HTTP still pages.
        if (!door.Listen(folder / (options.lineName + ".sock"), error))
            Say("no local socket: " + error);
    }
    std::unique_ptr<MqttBridge> mqtt;
    if (!options.mqtt.host.empty()) {
        mqtt = std::make_unique<MqttBridge>(desk, MqttOptionsFor(options));
        QObject::connect(mqtt.get(), &MqttBridge::Logged, &host,
                         [&host](const QString& text) { host.Core().Log(text.toStdString()); });
        if (!mqtt->Start())
            Say(mqtt->Error().toStdString());
    }

    SystemdNotify notify([&desk] { return desk.Figures().waiting; });
    desk.Subscribe(notify);
    if (!options.lineConfigured)
        notify.ShowStatus("No line configured");
    notify.Ready();
    SignalWatch watch([&](int) {
        notify.Stopping();
        if (mqtt)
            mqtt->Stop();
        http.Stop();
        host.Stop();
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}
