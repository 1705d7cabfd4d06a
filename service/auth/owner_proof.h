#pragma once

#include <optional>
#include <string>

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

// The secret from the file the environment names, read once at start; nothing when none is
// named or the file cannot be used (reported on stderr: the service then proves nothing).
std::optional<std::string> ownerSecretFromEnvironment();

// A nonce of 16 to 64 random bytes, in hex.
bool isValidNonce(const std::string &nonce);

// HMAC-SHA256 of the nonce with the secret, in lower-case hex.
std::string ownerProof(const std::string &secret, const std::string &nonce);

} // namespace speech
