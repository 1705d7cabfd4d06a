#include "service_limits.h"

#include "api_paths.h"
#include "option_set.h"

namespace speech {

namespace {

constexpr size_t kMebibyte = 1024 * 1024;

// Given in MiB, kept in bytes.
ValueRule mebibyteRule(size_t &bytes, long long min, long long max)
{
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    return { "a number from " + range,
        [&bytes, min, max](const std::string &text) {
            long long n = 0;
            if (!parseInteger(text, min, max, n))
                return false;
            bytes = size_t(n) * kMebibyte;
            return true;
        },
        [&bytes] { return std::to_string(bytes / kMebibyte); }, "MiB", {}, range };
}

} // namespace

const char *const kLimitsSection
    = "Limits on what one client takes (behind nginx, nginx absorbs slow clients)";

void declareLimitOptions(OptionSet &options, ServiceLimits &limits)
{
    options.section(kLimitsSection);
    options.add({ "--max-header-bytes", "N", "request line and headers together", "header bytes" },
        numberRule(limits.maxHeaderBytes, 1024, 1024 * 1024));
    options.add({ "--max-headers", "N", "header lines in one request", "headers" },
        numberRule(limits.maxHeaderCount, 8, 10000));
    options.add(
        { "--request-timeout", "S", "seconds to receive a whole request", "request timeout" },
        secondsRule(limits.requestTimeoutSeconds, 1, 3600));
    options.add({ "--connection-threads", "N",
                    "connections served side by side; each waits for a decoder while it holds "
                    "one, and as many more may wait",
                    "connection threads" },
        numberRule(limits.connectionThreads, 4, 10000));
    ValueRule perClient = numberRule(limits.maxConnectionsPerClient, 0, 100000);
    perClient.zeroMeans = "unbounded";
    options.add({ "--max-connections-per-client", "N",
                    "open connections from one address, 0 for no bound", "connections per client" },
        std::move(perClient));
    options.add(
        { "--max-upload-mb", "N",
            std::string("largest file POST ") + kTranscriptionsPath + " takes, in MiB", "upload" },
        mebibyteRule(limits.maxUploadBytes, 1, 1024));
    options.add({ "--decode-timeout", "S", "seconds the decoder (ffmpeg) may take for one file",
                    "file decode timeout" },
        secondsRule(limits.decodeTimeoutSeconds, 1, 3600));
    options.add({ "--max-audio-minutes", "N", "longest audio one file may hold, in minutes",
                    "audio per file" },
        numberRule(limits.maxAudioMinutes, 1, 24 * 60, "min"));
}

std::string describeBodyLimits(const ServiceLimits &limits)
{
    return "body bytes " + std::to_string(kMaxRecognitionBodyBytes) + " on POST "
        + std::string(speechprotocol::path::kRecognition) + ", "
        + std::to_string(kMaxTokenBodyBytes) + " on POST " + speechprotocol::path::kToken + ", "
        + std::to_string(limits.maxUploadBytes + kUploadFormRoomBytes) + " on POST "
        + kTranscriptionsPath + ", none elsewhere";
}

BodyRule bodyRuleFor(std::string_view method, std::string_view path, const ServiceLimits &limits)
{
    if (path == kTranscriptionsPath)
        return { true, method == "POST" ? limits.maxUploadBytes + kUploadFormRoomBytes : 0, false };
    if (path == kModelsPath)
        return { true, 0, false };
    if (path == speechprotocol::path::kRecognition)
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
