#pragma once

#include <map>
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

// Lower-case hex of the secret's SHA-256: what a client's tokens are bound to.
std::string secretDigest(std::string_view secret);

// "ID SECRET" a line; "#" at the start of a line or after a blank starts a
// comment; a secret written "sha256:HEX" is kept as its hash only. On a
// mistake returns nothing and names the line in `error`.
std::optional<std::vector<Client>> parseClients(std::string_view text, std::string &error);
// The file checked as the key file is (see readPrivateFile); `warning` says
// when it holds plain secrets others may read.
std::optional<std::vector<Client>> readClientsFile(
    const std::string &path, std::string &warning, std::string &error);

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
    // Client id to the binding its tokens carry: the digest of its secret,
    // so that a changed or removed secret revokes the tokens issued under it.
    std::map<std::string, std::string> bindings() const;
    std::string bindingOf(std::string_view id) const; // empty when not listed

private:
    std::shared_ptr<const std::vector<Client>> current() const;

    mutable std::mutex mutex_;
    std::shared_ptr<const std::vector<Client>> clients_;
};

} // namespace speech
