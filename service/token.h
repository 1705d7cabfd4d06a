#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace speech {

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

    enum class Verdict { Valid, Malformed, BadSignature, Expired, WrongKind };
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
