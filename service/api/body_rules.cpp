#include "service/api/body_rules.h"

#include "service/api/api_paths.h"

namespace speech {

std::string describeBodyLimits(const ServiceLimits &limits)
{
    return "body bytes " + std::to_string(kMaxRecognitionBodyBytes) + " on POST "
        + std::string(speechprotocol::path::kRecognition) + " and " + speechprotocol::path::kLive
        + ", " + std::to_string(kMaxTokenBodyBytes) + " on POST " + speechprotocol::path::kToken
        + ", " + std::to_string(limits.maxUploadBytes + kUploadFormRoomBytes) + " on POST "
        + kTranscriptionsPath + ", none elsewhere";
}

BodyRule bodyRuleFor(std::string_view method, std::string_view path, const ServiceLimits &limits)
{
    if (path == kTranscriptionsPath)
        return { true, method == "POST" ? limits.maxUploadBytes + kUploadFormRoomBytes : 0, false };
    if (path == kModelsPath)
        return { true, 0, false };
    if (path == speechprotocol::path::kRecognition || path == speechprotocol::path::kLive)
        return { true, method == "POST" ? kMaxRecognitionBodyBytes : 0, true };
    if (path == speechprotocol::path::kToken)
        return { true, method == "POST" ? kMaxTokenBodyBytes : 0, false };
    if (path == speechprotocol::path::kHealth)
        return { true, 0, false };
    return {};
}

int refusalBeforeBody(const BodyRule &rule, std::optional<uint64_t> declaredLength, bool hasBody)
{
    if (!hasBody)
        return 0;
    if (!rule.knownPath)
        return 404;
    if (rule.maxBytes == 0 || (declaredLength && *declaredLength > rule.maxBytes))
        return 413;
    // A body of unknown length is only read where it is read in bounded pieces.
    if (!declaredLength && !rule.streamed)
        return 411;
    return 0;
}

} // namespace speech
