#include "TokenFile.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <algorithm>

#include "settings/SmallFile.h"

namespace zelvano::service {

namespace {

constexpr std::size_t kMaxFileBytes = 64 * 1024;
constexpr std::size_t kMinTokenLength = 16;
constexpr std::size_t kMaxTokenLength = 256;
constexpr std::size_t kMaxNameLength = 64;

// Names the other front ends give their calls: a token client of the same
// name would share their idempotency keys.
constexpr std::array<std::string_view, 2> kReservedNames = {"anonymous", "mqtt"};

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// Printable ASCII without blanks: what a header carries unchanged.
bool IsTokenCharacter(char c) {
    return c > ' ' && c < 0x7f;
}

// Why a name:token pair cannot stand; "" when it can.
std::string Problem(std::string_view name, std::string_view token) {
    if (name.empty() || name.size() > kMaxNameLength || !std::ranges::all_of(name, IsNameCharacter))
        return "the client name must be 1 to 64 of A-Z a-z 0-9 . _ -";
    if (std::ranges::find(kReservedNames, name) != kReservedNames.end())
        return "the client name '" + std::string(name) + "' is reserved";
    if (token.size() < kMinTokenLength || token.size() > kMaxTokenLength ||
        !std::ranges::all_of(token, IsTokenCharacter))
        return "the token of '" + std::string(name) +
               "' must be 16 to 256 printable characters without blanks";
    return "";
}

}  // namespace

TokenFile::Digest TokenFile::DigestOf(std::string_view token) {
    const QByteArray hash =
        QCryptographicHash::hash(QByteArrayView(token.data(), static_cast<qsizetype>(token.size())),
                                 QCryptographicHash::Sha256);
    Digest digest{};
    std::copy(hash.begin(), hash.end(), digest.begin());
    return digest;
}

TokenFile::Loaded TokenFile::Parse(std::string_view text, const std::string& fileName) {
    Loaded loaded;
    std::vector<int> lines;  // where each client was named
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        const std::string at = fileName + ":" + std::to_string(number) + ": ";
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            loaded.error = at + "not name:token";
            return loaded;
        }
        const std::string_view name = Trimmed(line.substr(0, colon));
        const std::string_view token = Trimmed(line.substr(colon + 1));
        if (const std::string problem = Problem(name, token); !problem.empty()) {
            loaded.error = at + problem;
            return loaded;
        }
        const Digest digest = DigestOf(token);
        for (std::size_t i = 0; i < loaded.tokens.clients_.size(); ++i) {
            const Client& other = loaded.tokens.clients_[i];
            const std::string first = " (line " + std::to_string(lines[i]) + ")";
            if (other.name == name)
                loaded.error = at + "client '" + other.name + "' is named twice" + first;
            else if (other.digest == digest)
                loaded.error = at + "'" + std::string(name) + "' has the token of '" + other.name +
                               "'" + first;
            if (!loaded.error.empty())
                return loaded;
        }
        loaded.tokens.clients_.push_back({std::string(name), digest});
        lines.push_back(number);
    }
    if (loaded.tokens.clients_.empty())
        loaded.error = fileName + ": no client named (name:token lines)";
    return loaded;
}

TokenFile::Loaded TokenFile::Load(const std::filesystem::path& file) {
    const SmallFile read = ReadSmallFile(file, kMaxFileBytes);
    Loaded loaded;
    if (!read.found)
        loaded.error = file.string() + ": no such file";
    else if (!read.problem.empty())
        loaded.error = read.problem;
    else if (read.mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH))
        loaded.error = file.string() + ": group or others may read or write it (chmod 600 " +
                       file.string() + ")";
    return loaded.error.empty() ? Parse(read.bytes, file.string()) : loaded;
}

std::optional<std::string> TokenFile::ClientFor(std::string_view token) const {
    const Digest digest = DigestOf(token);
    const Client* found = nullptr;
    // Every digest in full, no early exit: the time is the same for any token.
    for (const Client& client : clients_) {
        std::uint8_t difference = 0;
        for (std::size_t i = 0; i < digest.size(); ++i)
            difference |= static_cast<std::uint8_t>(digest[i] ^ client.digest[i]);
        if (difference == 0)
            found = &client;
    }
    if (found == nullptr)
        return std::nullopt;
    return found->name;
}

}  // namespace zelvano::service
