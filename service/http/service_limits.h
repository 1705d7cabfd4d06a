#pragma once

#include <cstddef>

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

} // namespace speech
