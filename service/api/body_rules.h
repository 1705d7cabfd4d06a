#pragma once

#include "service/http/service_limits.h"
#include "service/recognition/audio_input.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace speech {

// Bodies: the largest valid request of each path and a little room for
// members, white space and escapes. 60 s of audio as Base64 is 2.56 MB.
constexpr size_t kMaxRecognitionBodyBytes = 4 * ((2 * 60 * kSampleRate + 44 + 2) / 3) + 64 * 1024;
constexpr size_t kMaxTokenBodyBytes = 8 * 1024;

// The limits on bodies, for the log: the protocol's own and the upload's.
std::string describeBodyLimits(const ServiceLimits &limits);

// What a request may carry, by method and path.
struct BodyRule
{
    bool knownPath = false;
    size_t maxBytes = 0; // 0: no body
    bool streamed = false; // read in pieces, so a body without a declared length is bounded too
};
BodyRule bodyRuleFor(std::string_view method, std::string_view path, const ServiceLimits &limits);

// The status that refuses a request from its head alone, before any of its
// body is read, or 0 when the body may be read.
int refusalBeforeBody(const BodyRule &rule, std::optional<uint64_t> declaredLength, bool hasBody);

} // namespace speech
