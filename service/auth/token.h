#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace speech {

// How long the tokens this service issues last.
constexpr int64_t kTokenLifetimeSeconds = 30 * 24 * 3600;
constexpr int64_t kRefreshTokenLifetimeSeconds = 12 * kTokenLifetimeSeconds;
// Room for the clocks of services that share a key to differ.
constexpr int64_t kTokenClockSkewSeconds = 300;

// Compares two secrets in time that depends only on their lengths.
bool constantTimeEquals(std::string_view a, std::string_view b);

// Random bytes from the system's generator, as lower-case hex.
std::string randomHex(size_t byteCount);

// Tokens carry their client and expiry and an HMAC-SHA256 over both, made
// with the service's key: any service process holding the same key can check
// them without shared state. Form: "<kind>.<expiry>.<client>.<mac hex>".
// A binding (the digest of the client's secret) is covered by the MAC but
// not written in the token: a token is valid only while its client has the
// secret it was issued under, on every service with the same clients.
class TokenSigner
{
public:
    enum class Kind { Access, Refresh };

    explicit TokenSigner(std::string key);

    std::string sign(Kind kind, std::string_view clientId, int64_t expiresAt,
        std::string_view binding = {}) const;

    // TooFarAhead: an expiry later than any token this service issues, which
    // only a leaked key or a forged clock makes.
    enum class Verdict { Valid, Malformed, BadSignature, Expired, WrongKind, TooFarAhead };
    struct Checked
    {
        Verdict verdict = Verdict::Malformed;
        std::string clientId;
        int64_t expiresAt = 0;
    };
    Checked verify(
        std::string_view token, Kind expected, int64_t now, std::string_view binding = {}) const;
    // The client a token names, unchecked: to look up its binding.
    static std::string clientNamed(std::string_view token);

private:
    std::string mac(std::string_view message) const;

    std::string key_;
};

} // namespace speech
