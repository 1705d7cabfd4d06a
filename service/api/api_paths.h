#pragma once

namespace speech {

// The transcription API's endpoints, beside the protocol's own paths.
constexpr const char *kTranscriptionsPath = "/v1/audio/transcriptions"; // POST, a multipart form
constexpr const char *kModelsPath = "/v1/models"; // GET
constexpr const char *kApiPathPrefix = "/v1/";

} // namespace speech
