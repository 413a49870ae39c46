// The API's clients and their bearer tokens: "name:token" lines, '#' starts
// a comment line. Only the tokens' SHA-256 digests are kept, and a lookup
// compares every digest in full, so its time tells nothing of a token.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvano::service {

class TokenFile {
  public:
    struct Loaded;

    // Reads the file: a regular file of at most 64 kB that neither group nor
    // others may read or write, with at least one client. The error names
    // the file (and the line), never a token.
    static Loaded Load(const std::filesystem::path& file);
    // The clients of a file's text; fileName goes into the error.
    static Loaded Parse(std::string_view text, const std::string& fileName);

    // The client the token belongs to; nullopt for an unknown token.
    std::optional<std::string> ClientFor(std::string_view token) const;
    std::size_t Size() const { return clients_.size(); }

  private:
    using Digest = std::array<std::uint8_t, 32>;
    struct Client {
        std::string name;
        Digest digest;
    };
    static Digest DigestOf(std::string_view token);
    std::vector<Client> clients_;
};

struct TokenFile::Loaded {
    TokenFile tokens;
    std::string error;  // empty when the file was read
};

}  // namespace zelvano::service
