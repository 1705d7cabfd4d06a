// The speech service's key file, as the bytes read from it (at most one past the limit).
#include "service/auth/key_file.h"
#include "fuzzcheck.h"
#include "service/auth/token.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string read(
        reinterpret_cast<const char *>(data), std::min(size, speech::kMaxKeyFileBytes + 1));
    std::string error;
    const std::optional<std::string> key = speech::keyFromBytes(read, "fuzz.key", error);
    if (!key) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    // The key is the file's bytes up to a final run of line breaks, within the bounds.
    FUZZ_CHECK(key->size() >= speech::kMinKeyBytes && key->size() <= speech::kMaxKeyFileBytes);
    FUZZ_CHECK(read.compare(0, key->size(), *key) == 0);
    FUZZ_CHECK(read.find_first_not_of("\r\n", key->size()) == std::string::npos);
    FUZZ_CHECK(key->back() != '\n' && key->back() != '\r');

    // Any such key signs tokens that it verifies and another key does not.
    const speech::TokenSigner signer(*key);
    const std::string token = signer.sign(speech::TokenSigner::Kind::Access, "client", 2000);
    const auto checked = signer.verify(token, speech::TokenSigner::Kind::Access, 1000);
    FUZZ_CHECK(checked.verdict == speech::TokenSigner::Verdict::Valid);
    FUZZ_CHECK(checked.clientId == "client" && checked.expiresAt == 2000);
    const speech::TokenSigner other(*key + "x");
    FUZZ_CHECK(other.verify(token, speech::TokenSigner::Kind::Access, 1000).verdict
        == speech::TokenSigner::Verdict::BadSignature);
    return 0;
}
