#pragma once

#include <optional>
#include <string>

namespace httplib {
class Server;
}

namespace speech {

// The program that starts the service on a user's machine names a file, readable by that user
// only, holding a secret; before it sends audio or its credentials it asks the service to prove
// it holds the same secret, so a listener of another user on the port is never taken for it.
// The file is named in the environment rather than on the command line, which every user sees.
constexpr const char *kOwnerSecretVariable = "TOVARIN_OWNER_SECRET_FILE";
constexpr const char *kOwnerProofPath = "/tovarin/owner-proof";

// The secret from `path`, opened once and checked on the open file: a regular file of this
// user's, readable by no one else, of at least 16 bytes. Nothing (and `error`) otherwise.
std::optional<std::string> readOwnerSecret(const std::string &path, std::string &error);

// HMAC-SHA256 of the nonce with the secret, in lower-case hex.
std::string ownerProof(const std::string &secret, const std::string &nonce);

// GET /tovarin/owner-proof?nonce=HEX answers {"proof": HEX}; 404 when the service was started
// without a secret. The secret is read here, once, from the file the environment names; a
// file that cannot be used is reported on stderr and leaves the service without one.
void addOwnerProofRoute(httplib::Server &http);

} // namespace speech
