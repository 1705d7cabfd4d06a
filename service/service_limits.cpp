#include "service_limits.h"

#include "option_set.h"

namespace speech {

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
}

std::string describeBodyLimits()
{
    return "body bytes " + std::to_string(kMaxRecognitionBodyBytes) + " on POST "
        + std::string(speechprotocol::path::kRecognition) + ", "
        + std::to_string(kMaxTokenBodyBytes) + " on POST " + speechprotocol::path::kToken
        + ", none elsewhere";
}

BodyRule bodyRuleFor(std::string_view method, std::string_view path)
{
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
