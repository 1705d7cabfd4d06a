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
class TokenSigner
{
public:
    enum class Kind { Access, Refresh };

    explicit TokenSigner(std::string key);

    std::string sign(Kind kind, std::string_view clientId, int64_t expiresAt) const;

    // TooFarAhead: an expiry later than any token this service issues, which
    // only a leaked key or a forged clock makes.
    enum class Verdict { Valid, Malformed, BadSignature, Expired, WrongKind, TooFarAhead };
    struct Checked
    {
        Verdict verdict = Verdict::Malformed;
        std::string clientId;
        int64_t expiresAt = 0;
    };
    Checked verify(std::string_view token, Kind expected, int64_t now) const;

private:
    std::string mac(std::string_view message) const;

    std::string key_;
};

} // namespace speech
