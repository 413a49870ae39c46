#include "serial/PortMap.h"

#include <charconv>
#include <optional>

#include "settings/SmallFile.h"

namespace zelvano {
namespace {

// A port map is a handful of lines; a larger file is not one.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\f\v");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\f\v");
    return s.substr(first, last - first + 1);
}

// True when text starts with prefix (ASCII letters in any case).
bool HasPrefix(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = static_cast<char>(text[i] | 0x20);  // ASCII lower case
        if (c != prefix[i])
            return false;
    }
    return true;
}

bool IsComPrefix(std::string_view key) {
    return HasPrefix(key, "com");
}

// A host name or IPv4 address: letters, digits, '-', '.', '_' only.
bool IsHostName(std::string_view host) {
    if (host.empty() || host.size() > 253)
        return false;
    for (const char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

// An IPv6 address between brackets: hex digits, ':' and '.', a zone after '%'.
bool IsIpv6Text(std::string_view host) {
    if (host.size() < 2 || host.size() > 64 || host.find(':') == std::string_view::npos)
        return false;
    const auto zone = host.find('%');
    const std::string_view address = host.substr(0, zone);
    for (const char c : address) {
        const bool ok = (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') ||
                        c == ':' || c == '.';
        if (!ok)
            return false;
    }
    return zone == std::string_view::npos || IsHostName(host.substr(zone + 1));
}

// The number of a key "COMn" with n 1..8.
std::optional<int> PortNumberOfKey(std::string_view key) {
    if (!IsComPrefix(key))
        return std::nullopt;
    const std::string_view digits = key.substr(3);
    if (digits.empty() || digits.size() > 2)
        return std::nullopt;
    int number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (number < kFirstPortNumber || number > kLastPortNumber)
        return std::nullopt;
    return number;
}

void ParseLine(std::string_view line, std::map<int, std::string>& map) {
    line = line.substr(0, line.find('#'));
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return;
    const auto number = PortNumberOfKey(Trim(line.substr(0, eq)));
    const std::string_view device = Trim(line.substr(eq + 1));
    if (!number || device.empty())
        return;
    map[*number] = std::string(device);
}

}  // namespace

bool IsTcpDevice(std::string_view device) {
    return HasPrefix(device, "tcp://");
}

std::optional<TcpTarget> ParseTcpTarget(std::string_view device) {
    if (!IsTcpDevice(device))
        return std::nullopt;
    std::string_view rest = device.substr(6);
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    std::string_view host = rest.substr(0, colon);
    const std::string_view digits = rest.substr(colon + 1);
    const bool bracketed = !host.empty() && host.front() == '[';
    if (bracketed) {
        if (host.back() != ']')
            return std::nullopt;
        host = host.substr(1, host.size() - 2);
        if (!IsIpv6Text(host))
            return std::nullopt;
    } else if (!IsHostName(host)) {
        return std::nullopt;
    }
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || port < 1 ||
        port > 65535)
        return std::nullopt;
    return TcpTarget{std::string(host), static_cast<std::uint16_t>(port)};
}

std::map<int, std::string> ParsePortMap(std::string_view text) {
    // An editor's byte order mark is not part of the first key.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::map<int, std::string> map;
    while (!text.empty()) {
        const auto end = text.find('\n');
        ParseLine(text.substr(0, end), map);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return map;
}

std::string DefaultDevice(int number) {
#ifdef _WIN32
    return "COM" + std::to_string(number);
#else
    return "/dev/ttyS" + std::to_string(number - 1);
#endif
}

std::string DeviceForPort(const std::filesystem::path& dataDir, int number, std::string* problem) {
    if (number < kFirstPortNumber || number > kLastPortNumber)
        return {};
    const SmallFile file = ReadSmallFile(dataDir / kPortMapFileName, kMaxFileBytes);
    if (problem != nullptr)
        *problem = file.problem;
    if (!file.problem.empty())
        return {};  // never the default: the map may have named another device
    const auto map = ParsePortMap(file.bytes);
    const auto it = map.find(number);
    return it != map.end() ? it->second : DefaultDevice(number);
}

}  // namespace zelvano
