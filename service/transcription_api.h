#pragma once

#include "api_paths.h"
#include "clients_file.h"
#include "decoder_pool.h"
#include "media_decoder.h"
#include "protocol/speechprotocol.h"

#include <httplib.h>
#include <json/json.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace speech {

// The transcription API of the wider ecosystem: POST /v1/audio/transcriptions
// and GET /v1/models, with that API's error shape.
struct TranscriptionContext
{
    const ClientRegistry *clients = nullptr;
    const std::map<int, std::shared_ptr<DecoderPool>> *pools = nullptr; // null: not serving
    int defaultDevPid = speechprotocol::kEnglishDevPid;
    int64_t modelsSince = 0; // "created" of the models
    DecodeLimits decode;
    std::atomic<size_t> *inProgress = nullptr; // transcriptions being decoded or recognised
    size_t maxInProgress = 4;
    bool stopping = false;
};

// What the log line tells of a transcription.
struct TranscriptionNote
{
    double audioSeconds = -1;
    long long decodeMs = -1;
};

bool isTranscriptionApiPath(const std::string &path);

// What a transcription's form asks for; the file points into the request.
struct TranscriptionForm
{
    const httplib::MultipartFormData *file = nullptr;
    std::string model;
    std::string language;
    std::string responseFormat = "json";
    bool segments = false;
    bool words = false;
};

// Checks the form of a transcription request; on a mistake answers 400 and gives nothing.
std::optional<TranscriptionForm> readTranscriptionForm(
    const httplib::Request &req, httplib::Response &res);

// {"error": {"message", "type", "param", "code"}} with the status.
void answerApiError(httplib::Response &res, int status, const std::string &message,
    const std::string &param = {}, const std::string &code = {});

void answerModels(
    const httplib::Request &req, httplib::Response &res, const TranscriptionContext &context);
TranscriptionNote answerTranscription(
    const httplib::Request &req, httplib::Response &res, const TranscriptionContext &context);

} // namespace speech
