#pragma once

#include "audio_input.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace speech {

// What the service takes from one client before it refuses: the answer to
// clients that send too much, too many headers or too slowly.
struct ServiceLimits
{
    size_t maxHeaderBytes = 16 * 1024; // request line and headers together
    size_t maxHeaderCount = 64;
    unsigned requestTimeoutSeconds = 30; // to receive a whole request, head and body
    // A declared body adds the time it takes at this rate to the request's
    // time, so that a large upload over a slow link arrives; once the
    // request's own time has passed, a body must keep arriving at least as
    // fast, so that a trickle is still cut off.
    size_t minUploadBytesPerSecond = 64 * 1024;
    size_t connectionThreads = 512; // connection workers; they wait for decoders
    size_t maxConnectionsPerClient = 128; // open connections of one address; 0: no bound
    // The transcription API: an uploaded file, how long its decoding may take
    // and how much audio it may hold.
    size_t maxUploadBytes = 25 * 1024 * 1024;
    unsigned decodeTimeoutSeconds = 120;
    unsigned maxAudioMinutes = 120;
};

// Room beside the file for the form's other fields and its part heads.
constexpr size_t kUploadFormRoomBytes = 64 * 1024;

// Bodies: the largest valid request of each path and a little room for
// members, white space and escapes. 60 s of audio as Base64 is 2.56 MB.
constexpr size_t kMaxRecognitionBodyBytes = 4 * ((2 * 60 * kSampleRate + 44 + 2) / 3) + 64 * 1024;
constexpr size_t kMaxTokenBodyBytes = 8 * 1024;

class OptionSet;
extern const char *const kLimitsSection;
// Declares the options of the limits ("--max-headers" and so on), read into `limits`.
void declareLimitOptions(OptionSet &options, ServiceLimits &limits);
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
