#include "service_limits.h"

#include <charconv>

namespace speech {

namespace {

bool toCount(const std::string &text, unsigned long long min, unsigned long long max,
    unsigned long long &out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() && out >= min
        && out <= max;
}

} // namespace

namespace {

struct LimitOption
{
    const char *name;
    unsigned long long min;
    unsigned long long max;
};

const LimitOption kLimitOptions[] = {
    { "--max-header-bytes", 1024, 1024 * 1024 },
    { "--max-headers", 8, 10000 },
    { "--request-timeout", 1, 3600 },
    { "--connection-threads", 4, 10000 },
    { "--max-connections-per-client", 0, 100000 },
};

const LimitOption *findLimitOption(const std::string &name)
{
    for (const LimitOption &o : kLimitOptions) {
        if (name == o.name)
            return &o;
    }
    return nullptr;
}

} // namespace

bool isLimitOption(const std::string &name)
{
    return findLimitOption(name) != nullptr;
}

bool parseLimitOption(
    const std::string &name, const std::string &value, ServiceLimits &limits, std::string &error)
{
    const LimitOption *o = findLimitOption(name);
    unsigned long long n = 0;
    if (!o || !toCount(value, o->min, o->max, n)) {
        error = name + " needs a number from " + std::to_string(o ? o->min : 0) + " to "
            + std::to_string(o ? o->max : 0);
        return false;
    }
    if (name == "--max-header-bytes")
        limits.maxHeaderBytes = size_t(n);
    else if (name == "--max-headers")
        limits.maxHeaderCount = size_t(n);
    else if (name == "--request-timeout")
        limits.requestTimeoutSeconds = unsigned(n);
    else if (name == "--connection-threads")
        limits.connectionThreads = size_t(n);
    else
        limits.maxConnectionsPerClient = size_t(n);
    return true;
}

std::string limitsUsageText()
{
    const ServiceLimits d;
    return "Limits on what one client takes (behind nginx, nginx absorbs slow clients):\n"
           "  --max-header-bytes N  request line and headers together (default "
        + std::to_string(d.maxHeaderBytes)
        + ")\n"
          "  --max-headers N       header lines in one request (default "
        + std::to_string(d.maxHeaderCount)
        + ")\n"
          "  --request-timeout S   seconds to receive a whole request (default "
        + std::to_string(d.requestTimeoutSeconds)
        + ")\n"
          "  --connection-threads N\n"
          "                        connections served side by side; each waits for a\n"
          "                        decoder while it holds one (default "
        + std::to_string(d.connectionThreads)
        + ")\n"
          "  --max-connections-per-client N\n"
          "                        open connections from one address, 0 for no bound\n"
          "                        (default "
        + std::to_string(d.maxConnectionsPerClient) + ")\n";
}

std::string describeLimits(const ServiceLimits &limits)
{
    return "header bytes " + std::to_string(limits.maxHeaderBytes) + ", headers "
        + std::to_string(limits.maxHeaderCount) + ", request timeout "
        + std::to_string(limits.requestTimeoutSeconds) + " s, connection threads "
        + std::to_string(limits.connectionThreads) + " and as many waiting"
        + ", connections per client "
        + (limits.maxConnectionsPerClient ? std::to_string(limits.maxConnectionsPerClient)
                                          : std::string("unbounded"))
        + "; body bytes " + std::to_string(kMaxRecognitionBodyBytes) + " on POST /server_api, "
        + std::to_string(kMaxTokenBodyBytes) + " on POST /oauth/2.0/token, none elsewhere";
}

BodyRule bodyRuleFor(std::string_view method, std::string_view path)
{
    if (path == "/server_api")
        return { true, method == "POST" ? kMaxRecognitionBodyBytes : 0, true };
    if (path == "/oauth/2.0/token")
        return { true, method == "POST" ? kMaxTokenBodyBytes : 0, false };
    if (path == "/health")
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
