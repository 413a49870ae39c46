// Which device stands behind a port number 1..8: the optional file
// comports.cfg in the data folder, else the platform's default name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zelvano {

inline constexpr int kFirstPortNumber = 1;
inline constexpr int kLastPortNumber = 8;
inline constexpr std::string_view kPortMapFileName = "comports.cfg";

// Entries "COMn=device" of a comports.cfg text, n 1..8 (COM in any case,
// blanks around '=' allowed, '#' starts a comment). Malformed lines are
// skipped; a later entry for the same port replaces an earlier one.
std::map<int, std::string> ParsePortMap(std::string_view text);

// The device a port number names when comports.cfg has no entry for it:
// /dev/ttyS{n-1} on Linux, COMn on Windows.
std::string DefaultDevice(int number);

// The device for port number 1..8 (comports.cfg first, then the default);
// empty for any other number. A missing file is no error; one that is there
// but is no regular file of at most 64 kB or cannot be read gives empty, and
// problem (when given) says why, naming the file.
std::string DeviceForPort(const std::filesystem::path& dataDir, int number,
                          std::string* problem = nullptr);

// A port reached over the network: "tcp://HOST:PORT", where HOST is a name,
// an IPv4 address or an IPv6 address in brackets, PORT 1..65535.
struct TcpTarget {
    std::string host;  // without brackets
    std::uint16_t port = 0;
};

// True when the device text names a network port (starts "tcp://", any case).
bool IsTcpDevice(std::string_view device);
// The host and port of a "tcp://" device; nullopt when it is malformed.
std::optional<TcpTarget> ParseTcpTarget(std::string_view device);

}  // namespace zelvano
