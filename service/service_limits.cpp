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
    { "--max-upload-mb", 1, 1024 },
    { "--decode-timeout", 1, 3600 },
    { "--max-audio-minutes", 1, 24 * 60 },
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
    else if (name == "--max-connections-per-client")
        limits.maxConnectionsPerClient = size_t(n);
    else if (name == "--max-upload-mb")
        limits.maxUploadBytes = size_t(n) * 1024 * 1024;
    else if (name == "--decode-timeout")
        limits.decodeTimeoutSeconds = unsigned(n);
    else
        limits.maxAudioMinutes = unsigned(n);
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
        + std::to_string(d.maxConnectionsPerClient)
        + ")\n"
          "  --max-upload-mb N     largest file POST /v1/audio/transcriptions takes, in MiB\n"
          "                        (default "
        + std::to_string(d.maxUploadBytes / (1024 * 1024))
        + ")\n"
          "  --decode-timeout S    seconds the decoder (ffmpeg) may take for one file\n"
          "                        (default "
        + std::to_string(d.decodeTimeoutSeconds)
        + ")\n"
          "  --max-audio-minutes N longest audio one file may hold (default "
        + std::to_string(d.maxAudioMinutes) + ")\n";
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
        + std::to_string(kMaxTokenBodyBytes) + " on POST /oauth/2.0/token, "
        + std::to_string(limits.maxUploadBytes + kUploadFormRoomBytes)
        + " on POST /v1/audio/transcriptions, none elsewhere; files decoded within "
        + std::to_string(limits.decodeTimeoutSeconds) + " s, up to "
        + std::to_string(limits.maxAudioMinutes) + " min of audio";
}

BodyRule bodyRuleFor(std::string_view method, std::string_view path, const ServiceLimits &limits)
{
    if (path == "/v1/audio/transcriptions")
        return { true, method == "POST" ? limits.maxUploadBytes + kUploadFormRoomBytes : 0, false };
    if (path == "/v1/models")
        return { true, 0, false };
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
