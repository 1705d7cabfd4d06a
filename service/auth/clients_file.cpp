#include "service/auth/clients_file.h"

#include "service/auth/private_file.h"
#include "service/auth/token.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cctype>
#include <sstream>

namespace speech {

namespace {

std::string sha256Hex(std::string_view text)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(text.data()), text.size(), digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : digest) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

bool isHex(std::string_view text)
{
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

bool matches(const Client &client, std::string_view secret, const std::string &secretHash)
{
    // Hashed entries compare hashes; both kinds run in time that depends only on lengths.
    return client.secret.empty() ? constantTimeEquals(client.sha256, secretHash)
                                 : constantTimeEquals(client.secret, secret);
}

// A "#" starts a comment at the start of a line or after a blank; inside a
// secret it is part of the secret.
size_t commentStart(const std::string &line)
{
    for (size_t i = 0; i < line.size(); ++i) {
        // Blank as the fields are split, so that what is a field is never half a comment.
        if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
            return i;
    }
    return line.size();
}

// A clients file for a team is a few hundred lines; anything larger is the wrong file.
constexpr size_t kMaxClientsFileBytes = 1024 * 1024;

} // namespace

std::string secretDigest(std::string_view secret)
{
    return sha256Hex(secret);
}

std::optional<std::vector<Client>> parseClients(std::string_view text, std::string &error)
{
    std::vector<Client> clients;
    std::istringstream in { std::string(text) };
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line.erase(commentStart(line));
        std::istringstream fields(line);
        std::string id, secret, extra;
        if (!(fields >> id))
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (!(fields >> secret) || (fields >> extra)) {
            error = where + "needs a client id and its secret, separated by a blank";
            return std::nullopt;
        }
        Client client;
        client.id = id;
        if (secret.rfind("sha256:", 0) == 0) {
            std::string digest = secret.substr(7);
            if (digest.size() != 2 * SHA256_DIGEST_LENGTH || !isHex(digest)) {
                error = where + "a hashed secret is sha256: and 64 hex digits";
                return std::nullopt;
            }
            for (char &c : digest)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            client.sha256 = digest;
        } else {
            client.secret = secret;
            client.sha256 = sha256Hex(secret);
        }
        for (const Client &other : clients) {
            if (other.id == client.id) {
                error = where + "client " + id + " is listed twice";
                return std::nullopt;
            }
        }
        clients.push_back(std::move(client));
    }
    if (clients.empty()) {
        error = "lists no client";
        return std::nullopt;
    }
    return clients;
}

std::optional<std::vector<Client>> readClientsFile(
    const std::string &path, std::string &warning, std::string &error)
{
    const std::optional<PrivateFile> file
        = readPrivateFile(path, "clients file", kMaxClientsFileBytes, error);
    if (!file)
        return std::nullopt;
    std::optional<std::vector<Client>> clients = parseClients(file->text, error);
    if (!clients) {
        error = path + ": " + error;
        return clients;
    }
    const bool plain = std::any_of(
        clients->begin(), clients->end(), [](const Client &c) { return !c.secret.empty(); });
    if (plain && othersMayRead(file->mode))
        warning = "the clients file " + path
            + " holds secrets other users may read; make it readable by its owner only (chmod "
              "600) or write the secrets as sha256:HEX";
    return clients;
}

ClientRegistry::ClientRegistry(std::vector<Client> clients)
    : clients_(std::make_shared<const std::vector<Client>>(std::move(clients)))
{ }

void ClientRegistry::replace(std::vector<Client> clients)
{
    auto next = std::make_shared<const std::vector<Client>>(std::move(clients));
    std::lock_guard<std::mutex> lock(mutex_);
    clients_ = std::move(next);
}

std::shared_ptr<const std::vector<Client>> ClientRegistry::current() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return clients_;
}

bool ClientRegistry::accepts(std::string_view id, std::string_view secret) const
{
    const std::string secretHash = sha256Hex(secret);
    bool found = false;
    for (const Client &client : *current()) {
        const bool idOk = constantTimeEquals(client.id, id);
        const bool secretOk = matches(client, secret, secretHash);
        found |= idOk & secretOk;
    }
    return found;
}

std::optional<std::string> ClientRegistry::clientWithSecret(std::string_view secret) const
{
    if (secret.empty())
        return std::nullopt;
    const std::string secretHash = sha256Hex(secret);
    std::optional<std::string> found;
    for (const Client &client : *current()) {
        if (matches(client, secret, secretHash) && !found)
            found = client.id;
    }
    return found;
}

std::map<std::string, std::string> ClientRegistry::bindings() const
{
    std::map<std::string, std::string> bindings;
    for (const Client &client : *current())
        bindings[client.id] = client.sha256;
    return bindings;
}

std::string ClientRegistry::bindingOf(std::string_view id) const
{
    for (const Client &client : *current()) {
        if (client.id == id)
            return client.sha256;
    }
    return {};
}

} // namespace speech
