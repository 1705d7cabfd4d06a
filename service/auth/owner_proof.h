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

// Where the desktop program keeps the user's secret: $XDG_RUNTIME_DIR/tovarin/service-secret,
// or under the user's data folder ($XDG_DATA_HOME, else ~/.local/share) when XDG_RUNTIME_DIR is
// unset or not absolute. Empty when neither can be named.
std::string defaultOwnerSecretPath();

// The secret a proof is given with. A file the environment names is read once at start (a
// file that cannot be used is reported on stderr, and the service then proves nothing).
// Without one, a service the user started by hand proves itself with the secret the desktop
// program keeps: that file is read when a proof is asked, since the program makes it only
// just before its first question, and makes it anew once the runtime folder was emptied.
class OwnerSecret
{
public:
    static OwnerSecret fromEnvironment();
    // The secret now; nothing when there is none to prove with.
    std::optional<std::string> current() const;

private:
    std::optional<std::string> named;
    std::string defaultPath;
};

// A nonce of 16 to 64 random bytes, in hex.
bool isValidNonce(const std::string &nonce);

// HMAC-SHA256 of the nonce with the secret, in lower-case hex.
std::string ownerProof(const std::string &secret, const std::string &nonce);

} // namespace speech
