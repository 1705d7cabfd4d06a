#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace speech {

struct Client
{
    std::string id;
    std::string secret; // the secret itself, or empty when only its hash is kept
    std::string sha256; // lower-case hex of the secret's SHA-256, always set
};

// "ID SECRET" a line; "#" starts a comment; a secret written "sha256:HEX" is
// kept as its hash only. On a mistake returns nothing and names the line in `error`.
std::optional<std::vector<Client>> parseClients(std::string_view text, std::string &error);
std::optional<std::vector<Client>> readClientsFile(const std::string &path, std::string &error);

// The clients the service accepts now; replaced whole on a reload, so a
// request sees either the old list or the new one.
class ClientRegistry
{
public:
    explicit ClientRegistry(std::vector<Client> clients = {});

    void replace(std::vector<Client> clients);
    // Whether the pair is listed; compares in time that does not tell which
    // part was wrong.
    bool accepts(std::string_view id, std::string_view secret) const;
    // The client whose secret this is (the transcription API's bearer key).
    std::optional<std::string> clientWithSecret(std::string_view secret) const;
    std::set<std::string> ids() const;

private:
    std::shared_ptr<const std::vector<Client>> current() const;

    mutable std::mutex mutex_;
    std::shared_ptr<const std::vector<Client>> clients_;
};

} // namespace speech
