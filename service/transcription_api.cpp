#include "transcription_api.h"

#include "json_shape.h"
#include "model_catalog.h"
#include "silence_splitter.h"
#include "transcript_reply.h"

#include <cstdlib>
#include <set>

namespace speech {

namespace {

const char *kJson = "application/json; charset=utf-8";
const char *kText = "text/plain; charset=utf-8";

// Form fields beside the file are short; a prompt is a few sentences.
constexpr size_t kMaxFieldBytes = 256;
constexpr size_t kMaxPromptBytes = 8 * 1024;
constexpr size_t kMaxGranularities = 4;
// Longer stretches without a pause are cut, as the recogniser takes at most
// this much at once on the token protocol too.
constexpr size_t kMaxUtteranceSamples = 60 * 16000;

const char *errorType(int status)
{
    switch (status) {
    case 401:
        return "authentication_error";
    case 429:
        return "rate_limit_error";
    case 500:
    case 503:
        return "server_error";
    default:
        return "invalid_request_error";
    }
}

// The client the bearer key belongs to; answers 401 and gives nothing when none.
std::optional<std::string> authorise(
    const httplib::Request &req, httplib::Response &res, const TranscriptionContext &context)
{
    const std::string header = req.get_header_value("Authorization");
    const std::string scheme = "Bearer ";
    if (header.size() <= scheme.size() || strncasecmp(header.c_str(), scheme.c_str(), 7) != 0) {
        answerApiError(res, 401,
            "no API key given; send it as Authorization: Bearer KEY (the client secret)", {},
            "invalid_api_key");
        return std::nullopt;
    }
    std::optional<std::string> client = context.clients
        ? context.clients->clientWithSecret(header.substr(scheme.size()))
        : std::nullopt;
    if (!client)
        answerApiError(res, 401, "the API key is not valid", {}, "invalid_api_key");
    return client;
}

bool refuseUnlessServing(httplib::Response &res, const TranscriptionContext &context)
{
    if (context.pools && !context.stopping)
        return false;
    res.set_header("Retry-After", "1");
    answerApiError(res, 503,
        context.stopping ? "the service is stopping; send the request again"
                         : "the service is still loading its models; send the request again");
    return true;
}

} // namespace

std::optional<TranscriptionForm> readTranscriptionForm(
    const httplib::Request &req, httplib::Response &res)
{
    if (!req.is_multipart_form_data()) {
        answerApiError(res, 400,
            "the request must be multipart/form-data with the audio in a field named file");
        return std::nullopt;
    }
    TranscriptionForm form;
    std::set<std::string> seen;
    std::set<std::string> granularities;
    size_t granularityCount = 0;
    for (const auto &[name, part] : req.files) {
        if (name == "file") {
            if (form.file) {
                answerApiError(res, 400, "send one file per request", "file");
                return std::nullopt;
            }
            form.file = &part;
            continue;
        }
        const bool granularity
            = name == "timestamp_granularities[]" || name == "timestamp_granularities";
        const bool single = name == "model" || name == "language" || name == "prompt"
            || name == "temperature" || name == "response_format";
        // Fields this service does not know are left alone, as newer clients send some.
        if (!granularity && !single)
            continue;
        const size_t limit = name == "prompt" ? kMaxPromptBytes : kMaxFieldBytes;
        if (part.content.size() > limit) {
            answerApiError(res, 400,
                "the field " + name + " is longer than " + std::to_string(limit) + " bytes", name);
            return std::nullopt;
        }
        if (single && !seen.insert(name).second) {
            answerApiError(res, 400, "the field " + name + " is given twice", name);
            return std::nullopt;
        }
        const std::string &value = part.content;
        if (granularity) {
            if ((value != "segment" && value != "word") || ++granularityCount > kMaxGranularities) {
                answerApiError(res, 400,
                    "timestamp_granularities[] takes segment and word, not '" + value + "'",
                    "timestamp_granularities");
                return std::nullopt;
            }
            granularities.insert(value);
        } else if (name == "model") {
            form.model = value;
        } else if (name == "language") {
            form.language = value;
        } else if (name == "response_format") {
            static const std::set<std::string> formats
                = { "json", "text", "srt", "verbose_json", "vtt" };
            if (!formats.count(value)) {
                answerApiError(res, 400,
                    "response_format must be json, text, srt, verbose_json or vtt, not '" + value
                        + "'",
                    "response_format");
                return std::nullopt;
            }
            form.responseFormat = value;
        } else if (name == "temperature") {
            // Taken and ignored: the recogniser has no sampling; only a
            // number in the API's range is a valid request.
            char *end = nullptr;
            const double t = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(t >= 0 && t <= 1)) {
                answerApiError(res, 400, "temperature must be a number from 0 to 1", "temperature");
                return std::nullopt;
            }
        }
    }
    if (!form.file) {
        answerApiError(
            res, 400, "the audio file is missing: send it in a field named file", "file");
        return std::nullopt;
    }
    if (form.file->content.empty()) {
        answerApiError(res, 400, "the audio file is empty", "file");
        return std::nullopt;
    }
    if (granularities.count("word") && form.responseFormat != "verbose_json") {
        answerApiError(res, 400, "word timestamps need response_format verbose_json",
            "timestamp_granularities");
        return std::nullopt;
    }
    form.words = granularities.count("word") > 0;
    form.segments = granularities.empty() || granularities.count("segment") > 0;
    return form;
}

namespace {

std::vector<size_t> utterancesOf(const std::vector<int16_t> &samples)
{
    return capUtterances(utteranceBounds(samples.data(), samples.size()), kMaxUtteranceSamples);
}

void answerTranscript(
    httplib::Response &res, const TranscriptionForm &form, const Transcript &transcript)
{
    res.status = 200;
    if (form.responseFormat == "json") {
        Json::Value body;
        body["text"] = transcript.text;
        res.set_content(toJson(body), kJson);
    } else if (form.responseFormat == "verbose_json") {
        res.set_content(toJson(verboseJson(transcript, form.segments, form.words)), kJson);
    } else if (form.responseFormat == "text") {
        res.set_content(transcript.text + "\n", kText);
    } else if (form.responseFormat == "srt") {
        res.set_content(srtBody(transcript.utterances), kText);
    } else {
        res.set_content(vttBody(transcript.utterances), kText);
    }
}

} // namespace

bool isTranscriptionApiPath(const std::string &path)
{
    return path.rfind(kApiPathPrefix, 0) == 0;
}

void answerApiError(httplib::Response &res, int status, const std::string &message,
    const std::string &param, const std::string &code)
{
    Json::Value error;
    error["message"] = message;
    error["type"] = errorType(status);
    error["param"] = param.empty() ? Json::Value() : Json::Value(param);
    error["code"] = code.empty() ? Json::Value() : Json::Value(code);
    Json::Value body;
    body["error"] = error;
    res.status = status;
    res.set_content(toJson(body), kJson);
}

void answerModels(
    const httplib::Request &req, httplib::Response &res, const TranscriptionContext &context)
{
    if (!authorise(req, res, context) || refuseUnlessServing(res, context))
        return;
    std::set<int> installed;
    for (const auto &entry : *context.pools)
        installed.insert(entry.first);
    res.status = 200;
    res.set_content(toJson(modelList(installed, context.modelsSince)), kJson);
}

TranscriptionNote answerTranscription(
    const httplib::Request &req, httplib::Response &res, const TranscriptionContext &context)
{
    TranscriptionNote note;
    if (!authorise(req, res, context) || refuseUnlessServing(res, context))
        return note;
    const std::optional<TranscriptionForm> form = readTranscriptionForm(req, res);
    if (!form)
        return note;
    std::set<int> installed;
    for (const auto &entry : *context.pools)
        installed.insert(entry.first);
    const ModelChoice choice
        = chooseModel(form->model, form->language, installed, context.defaultDevPid);
    if (!choice.ok()) {
        answerApiError(res, choice.status, choice.message, choice.param, choice.code);
        return note;
    }

    // Each transcription holds its file and its audio while it waits; past
    // this many, the next is asked to come back rather than held.
    struct Slot
    {
        std::atomic<size_t> *count;
        bool taken;
        ~Slot()
        {
            if (taken)
                --*count;
        }
    } slot { context.inProgress, false };
    if (context.inProgress) {
        if (++*context.inProgress > context.maxInProgress) {
            --*context.inProgress;
            res.set_header("Retry-After", "5");
            answerApiError(res, 429,
                "too many transcriptions in progress; send the file again shortly", {},
                "rate_limit_exceeded");
            return note;
        }
        slot.taken = true;
    }

    DecodedMedia media = decodeMedia(form->file->content, context.decode);
    if (media.status != DecodedMedia::Status::Ok) {
        const bool ours = media.status == DecodedMedia::Status::NoDecoder;
        answerApiError(
            res, ours ? 500 : 400, media.error, ours ? "" : "file", ours ? "" : "invalid_file");
        return note;
    }
    note.audioSeconds = double(media.samples.size()) / 16000;

    DecoderPool &pool = *context.pools->at(choice.model.devPid);
    try {
        DecoderPool::Outcome outcome = pool.recognizeUtterances(
            media.samples.data(), media.samples.size(), utterancesOf(media.samples));
        note.decodeMs = outcome.decodeMs;
        Transcript transcript;
        transcript.text = std::move(outcome.text);
        transcript.utterances = std::move(outcome.utterances);
        transcript.samples = media.samples.size();
        transcript.language = choice.model.languageName;
        answerTranscript(res, *form, transcript);
    } catch (const DecoderPool::Busy &busy) {
        res.set_header("Retry-After", "5");
        answerApiError(res, 503,
            std::string("the service is busy: ") + busy.what() + "; send the file again shortly");
    } catch (const std::exception &e) {
        answerApiError(res, 500, std::string("recognition failed: ") + e.what());
    }
    return note;
}

} // namespace speech
