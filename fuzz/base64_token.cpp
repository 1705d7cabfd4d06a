// The token protocol's Base64 and its tokens as a client hands them back.
#include "fuzzcheck.h"
#include "service/api/base64.h"
#include "service/auth/token.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);

    // Any bytes survive the way there and back.
    const std::string encoded = speech::base64Encode(in);
    FUZZ_CHECK(encoded.size() % 4 == 0);
    const std::optional<std::string> back = speech::base64Decode(encoded);
    FUZZ_CHECK(back && *back == in);

    // Text that decodes is the encoding of what it decodes to, give or take the padding.
    if (const std::optional<std::string> decoded = speech::base64Decode(in)) {
        const std::string again = speech::base64Encode(*decoded);
        std::string_view bare = in;
        while (!bare.empty() && bare.back() == '=')
            bare.remove_suffix(1);
        FUZZ_CHECK(again.size() >= bare.size() && again.size() - bare.size() <= 2);
        FUZZ_CHECK(decoded->size() == bare.size() * 3 / 4);
        FUZZ_CHECK(speech::base64Decode(again) == decoded);
    }

    // A token is valid only as the signer wrote it.
    static const speech::TokenSigner signer("fuzzing-key-0123456789abcdef");
    constexpr int64_t now = 1700000000;
    for (const auto kind :
        { speech::TokenSigner::Kind::Access, speech::TokenSigner::Kind::Refresh }) {
        const speech::TokenSigner::Checked checked = signer.verify(in, kind, now);
        if (checked.verdict == speech::TokenSigner::Verdict::Valid) {
            FUZZ_CHECK(signer.sign(kind, checked.clientId, checked.expiresAt) == in);
            FUZZ_CHECK(checked.expiresAt >= now);
        }
    }
    return 0;
}
