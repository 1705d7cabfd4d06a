#include "service/app/limit_options.h"

#include "service/api/api_paths.h"
#include "service/app/option_set.h"

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

} // namespace speech
