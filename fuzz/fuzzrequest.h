#pragma once
// What the targets of the token protocol's request share: "@TOKEN@" in an input stands for a
// valid access token, so that a fuzzer gets past the signature and on to the rest of the body,
// and the context the service checks a request in.

#include "protocol/speechprotocol.h"
#include "service/api/recognition_request.h"
#include "service/auth/token.h"

#include <cstdint>
#include <string>

namespace fuzzrequest {

constexpr int64_t kNow = 1700000000;

inline const speech::TokenSigner &signer()
{
    static const speech::TokenSigner key("fuzzing-key-0123456789abcdef");
    return key;
}

inline const std::string &token()
{
    static const std::string signed_
        = signer().sign(speech::TokenSigner::Kind::Access, "fuzz", kNow + 3600);
    return signed_;
}

// The input with each "@TOKEN@" replaced by the valid token.
inline std::string body(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    const std::string mark = "@TOKEN@";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
        text.replace(at, mark.size(), token());
    return text;
}

// The service's context for requests of the client "fuzz" to the English model.
inline speech::RequestContext context()
{
    speech::RequestContext c;
    c.signer = &signer();
    c.clients = { { "fuzz", "" } };
    c.installedModels = { speechprotocol::kEnglishDevPid };
    c.now = kNow;
    return c;
}

} // namespace fuzzrequest
