#pragma once

#include "protocol/speechprotocol.h"
#include "service/api/api_paths.h"
#include "service/api/in_progress.h"
#include "service/auth/clients_file.h"
#include "service/http/http_server.h"
#include "service/recognition/decoder_pool.h"
#include "service/recognition/media_decoder.h"

#include <json/json.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace speech {

// The transcription API of the wider ecosystem: POST /v1/audio/transcriptions
// and GET /v1/models, with that API's error shape.
struct TranscriptionContext
{
    const ClientRegistry *clients = nullptr;
    const std::map<int, std::shared_ptr<DecoderPool>> *pools = nullptr; // the service is ready
    int defaultDevPid = speechprotocol::kEnglishDevPid;
    int64_t modelsSince = 0; // "created" of the models
    DecodeLimits decode;
    RequestsInProgress *inProgress = nullptr; // null: no bound on transcriptions
    size_t maxInProgress = 4; // transcriptions being decoded or recognised
    size_t maxUploadBytes = 25 * 1024 * 1024;
    // The built-in pair is public (every copy of the desktop program holds
    // it): its secret is a key here only on a service that listens on
    // loopback without a clients file, and only from its own user.
    bool clientsFromFile = false;
    bool listensOnLoopback = false;
};

// Whether the built-in secret may serve as a key for this peer (see above).
bool builtInKeyAllowed(
    const TranscriptionContext &context, std::optional<uid_t> peerOwner, uid_t serviceUser);

// From the request's head, before any of its body is read: whether its
// bearer key is good; answers 401 when not.
bool authoriseApiRequest(
    const http::Request &req, http::Response &res, const TranscriptionContext &context);

// Both run once authoriseApiRequest has let the request through, on a ready service.
void answerModels(http::Response &res, const TranscriptionContext &context);
// Reads the form as it arrives, the file straight into the decoder's input.
void answerTranscription(const http::Request &req, http::Response &res, http::BodyReader &reader,
    const TranscriptionContext &context);

} // namespace speech
