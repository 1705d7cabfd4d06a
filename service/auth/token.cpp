#include "service/auth/token.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <charconv>
#include <stdexcept>

namespace speech {

namespace {

std::string toHex(const unsigned char *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out(2 * n, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[p[i] >> 4];
        out[2 * i + 1] = digits[p[i] & 15];
    }
    return out;
}

const char *kindTag(TokenSigner::Kind kind)
{
    return kind == TokenSigner::Kind::Access ? "a1" : "r1";
}

} // namespace

bool constantTimeEquals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        // Still touch the bytes so that a wrong length costs the same work.
        CRYPTO_memcmp(a.data(), a.data(), a.size());
        return false;
    }
    return a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string randomHex(size_t byteCount)
{
    std::string raw(byteCount, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(raw.data()), static_cast<int>(byteCount)) != 1)
        throw std::runtime_error("the system's random generator failed");
    return toHex(reinterpret_cast<const unsigned char *>(raw.data()), raw.size());
}

TokenSigner::TokenSigner(std::string key)
    : key_(std::move(key))
{
    if (key_.empty())
        throw std::invalid_argument("the signing key is empty");
}

std::string TokenSigner::mac(std::string_view message) const
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
        reinterpret_cast<const unsigned char *>(message.data()), message.size(), out, &len);
    return toHex(out, len);
}

namespace {

std::string boundBody(std::string_view body, std::string_view binding)
{
    std::string out(body);
    if (!binding.empty())
        out.append("\n").append(binding);
    return out;
}

} // namespace

std::string TokenSigner::clientNamed(std::string_view token)
{
    const size_t firstDot = token.find('.');
    const size_t lastDot = token.rfind('.');
    if (firstDot == std::string_view::npos || firstDot == lastDot)
        return {};
    const size_t secondDot = token.find('.', firstDot + 1);
    if (secondDot == lastDot)
        return {};
    return std::string(token.substr(secondDot + 1, lastDot - secondDot - 1));
}

std::string TokenSigner::sign(
    Kind kind, std::string_view clientId, int64_t expiresAt, std::string_view binding) const
{
    std::string body = kindTag(kind);
    body += '.';
    body += std::to_string(expiresAt);
    body += '.';
    body += clientId;
    return body + '.' + mac(boundBody(body, binding));
}

TokenSigner::Checked TokenSigner::verify(
    std::string_view token, Kind expected, int64_t now, std::string_view binding) const
{
    Checked result;
    // The client id may itself hold dots, so the MAC is cut from the right
    // and the kind and expiry from the left.
    const size_t lastDot = token.rfind('.');
    const size_t firstDot = token.find('.');
    if (lastDot == std::string_view::npos || firstDot == lastDot)
        return result;
    const size_t secondDot = token.find('.', firstDot + 1);
    if (secondDot == lastDot)
        return result;

    const std::string_view body = token.substr(0, lastDot);
    const std::string_view givenMac = token.substr(lastDot + 1);
    const std::string_view kind = token.substr(0, firstDot);
    const std::string_view expiry = token.substr(firstDot + 1, secondDot - firstDot - 1);
    int64_t expiresAt = 0;
    const auto [end, ec] = std::from_chars(expiry.data(), expiry.data() + expiry.size(), expiresAt);
    if (ec != std::errc() || end != expiry.data() + expiry.size() || expiry.empty())
        return result;

    if (!constantTimeEquals(mac(boundBody(body, binding)), givenMac)) {
        result.verdict = Verdict::BadSignature;
        return result;
    }
    result.clientId = std::string(token.substr(secondDot + 1, lastDot - secondDot - 1));
    result.expiresAt = expiresAt;
    if (kind != kindTag(expected))
        result.verdict = Verdict::WrongKind;
    else if (expiresAt <= now)
        result.verdict = Verdict::Expired;
    else if (expiresAt - now
        > (expected == Kind::Access ? kTokenLifetimeSeconds : kRefreshTokenLifetimeSeconds)
            + kTokenClockSkewSeconds)
        result.verdict = Verdict::TooFarAhead;
    else
        result.verdict = Verdict::Valid;
    return result;
}

} // namespace speech
