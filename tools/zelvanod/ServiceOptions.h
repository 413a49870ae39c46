// zelvanod's options: one INI-style file (zelvanod.conf), then the command
// line over it. Parse checks everything before anything is opened: the line,
// the listener and its token file, the desk's limits and the [mqtt] group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ServiceHost.h"
#include "TokenFile.h"
#include "settings/Settings.h"

namespace zelvano::service {

// Exit statuses of a service that cannot start (sysexits).
enum ServiceExit : int {
    kServiceExitUsage = 64,   // a bad command line
    kServiceExitConfig = 78,  // a bad configuration file, token file or espa.set
};

// The [mqtt] group, held for the MQTT bridge; an empty host: no MQTT.
struct MqttSettings {
    std::string host;
    int port = 1883;
    std::string clientId;      // empty: the bridge's own
    std::string username;      // empty: none
    std::string passwordFile;  // a private file whose first line is the password
    std::string password;      // read from passwordFile
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::string prefix;  // empty: the bridge's default, zelvano/<line name>
    bool discovery = false;
    std::string defaultAddress;  // the address a notify message without one pages
};

struct ServiceOptions {
    std::string configFile;  // the file read; empty when none was

    // The line. lineConfigured is false when no port is named anywhere (no
    // port, no espa.set): the service then starts, logs "no line configured"
    // and pages nothing, so a fresh install does not page before the
    // administrator names a line.
    bool lineConfigured = false;
    std::string lineName = "default";  // names the line to MQTT
    std::string port;                  // COMn, a device or tcp://HOST:PORT; empty: espa.set's
    std::string settingsFile;          // the espa.set read; empty: none
    // The file's line settings over espa.set's (field, list position).
    std::vector<std::pair<std::int16_t Settings::*, std::int16_t>> overrides;
    Settings settings;   // espa.set's record (zero without one), overrides and the port applied
    std::string device;  // a device or tcp:// port to pin; empty for COMn

    // The listener. Anything but loopback needs tokens.
    std::string listenHost = "127.0.0.1";  // an IP address, IPv6 without brackets
    std::uint16_t listenPort = 8444;       // 0: a free one
    std::string tokenFile;                 // empty: no tokens asked
    std::optional<TokenFile> tokens;       // read from tokenFile
    std::string tlsCert;                   // both or neither
    std::string tlsKey;
    int maxConnections = 256;
    double rate = 10;  // calls a second per client (token bucket); 0: no limit

    // The desk and its journal.
    std::string stateDir;  // absolute; not created here
    std::size_t queueLimit = 10000;
    int maxAgeSeconds = 600;
    int keepDays = 7;
    int callTimeoutSeconds = 60;

    MqttSettings mqtt;

    bool help = false;
    bool version = false;
};

// Where the service runs, as Parse needs it; tests give their own.
struct ServiceEnvironment {
    std::string defaultConfig;   // read when there and no --config is given; "" for none
    std::string stateDirectory;  // $STATE_DIRECTORY, set by systemd's StateDirectory=
    std::string userStateDir;    // the state folder otherwise
};

// The installed program (in a system program folder) reads
// /etc/zelvano/zelvanod.conf; any other copy reads only --config. The state
// folder is $STATE_DIRECTORY's first entry, else $XDG_STATE_HOME/zelvanod
// (~/.local/state/zelvanod). Needs a QCoreApplication.
ServiceEnvironment CurrentEnvironment();

struct ParsedServiceOptions {
    ServiceOptions options;
    std::string error;  // empty when all is good; names the option or the file, line and key
    int exitCode = 0;   // kServiceExitUsage or kServiceExitConfig with an error
};

// The arguments after the program name.
ParsedServiceOptions ParseServiceOptions(const std::vector<std::string>& args,
                                         const ServiceEnvironment& environment);

std::string ServiceHelpText();

// The line, the state folder and the desk's limits as the host takes them.
HostConfig HostConfigFor(const ServiceOptions& options);

}  // namespace zelvano::service
