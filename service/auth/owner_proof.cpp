#include "service/auth/owner_proof.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace speech {

namespace {

constexpr size_t kMinSecretBytes = 16;
constexpr size_t kMaxSecretBytes = 4096;
// A nonce of 16 to 64 random bytes, in hex.
constexpr size_t kMinNonceChars = 32;
constexpr size_t kMaxNonceChars = 128;

bool isHex(const std::string &text)
{
    return text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

} // namespace

std::optional<std::string> readOwnerSecret(const std::string &path, std::string &error)
{
    // One open, not a check and then an open: what is checked is what is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot read the owner secret " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st;
    std::string secret;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        error = "the owner secret " + path + " is not a regular file";
    else if (st.st_uid != ::geteuid() || (st.st_mode & (S_IRWXG | S_IRWXO)))
        error = "the owner secret " + path + " must belong to this user and be private (chmod 600)";
    else {
        secret.resize(kMaxSecretBytes + 1);
        const ssize_t got = ::read(fd, secret.data(), secret.size());
        secret.resize(got > 0 ? size_t(got) : 0);
        while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r'))
            secret.pop_back();
        if (secret.size() < kMinSecretBytes || secret.size() > kMaxSecretBytes)
            error = "the owner secret " + path + " must hold 16 to 4096 bytes";
    }
    ::close(fd);
    if (!error.empty())
        return std::nullopt;
    return secret;
}

std::string defaultOwnerSecretPath()
{
    const auto absolute = [](const char *name) {
        const char *value = std::getenv(name);
        return value && value[0] == '/' ? std::string(value) : std::string();
    };
    const std::string runtime = absolute("XDG_RUNTIME_DIR");
    if (!runtime.empty())
        return runtime + "/tovarin/service-secret";
    std::string data = absolute("XDG_DATA_HOME");
    if (data.empty() && !absolute("HOME").empty())
        data = absolute("HOME") + "/.local/share";
    return data.empty() ? std::string() : data + "/tovarin/service-secret";
}

OwnerSecret OwnerSecret::fromEnvironment()
{
    OwnerSecret result;
    const char *path = std::getenv(kOwnerSecretVariable);
    if (!path || !*path) {
        result.defaultPath = defaultOwnerSecretPath();
        return result;
    }
    std::string error;
    result.named = readOwnerSecret(path, error);
    if (!result.named)
        std::cerr << "speech-service: warning: " << error << "; no owner proof given\n";
    return result;
}

std::optional<std::string> OwnerSecret::current() const
{
    if (named || defaultPath.empty())
        return named;
    // Checked as a named file is: this user's regular file, private, not a link.
    std::string error;
    return readOwnerSecret(defaultPath, error);
}

bool isValidNonce(const std::string &nonce)
{
    return nonce.size() >= kMinNonceChars && nonce.size() <= kMaxNonceChars && isHex(nonce);
}

std::string ownerProof(const std::string &secret, const std::string &nonce)
{
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
        reinterpret_cast<const unsigned char *>(nonce.data()), nonce.size(), mac, &length);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[mac[i] >> 4];
        hex += digits[mac[i] & 15];
    }
    return hex;
}

} // namespace speech
