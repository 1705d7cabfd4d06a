#include "service/api/transcription_api.h"

#include "service/api/json_shape.h"
#include "service/api/model_catalog.h"
#include "service/api/transcript_reply.h"
#include "service/api/transcription_form.h"
#include "service/auth/token.h"
#include "service/http/client_address.h"
#include "service/http/guarded_server.h"
#include "service/recognition/silence_splitter.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <sys/mman.h>
#include <unistd.h>

namespace speech {

namespace {

const char *kJson = "application/json; charset=utf-8";
const char *kText = "text/plain; charset=utf-8";

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
    const std::string key = header.substr(scheme.size());
    if (constantTimeEquals(key, speechprotocol::token::kBuiltInClientSecret)) {
        const std::optional<uid_t> owner = loopbackPeerOwner(
            { req.remote_addr, req.remote_port }, { req.local_addr, req.local_port });
        if (!builtInKeyAllowed(context, owner, ::geteuid())) {
            answerApiError(res, 401,
                "the desktop program's built-in secret is a key only for the service's own user "
                "on this machine; use a client secret of this service",
                {}, "invalid_api_key");
            return std::nullopt;
        }
    }
    std::optional<std::string> client
        = context.clients ? context.clients->clientWithSecret(key) : std::nullopt;
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

// Closes the memory file however the request ends.
struct Upload
{
    int fd = ::memfd_create("upload", MFD_CLOEXEC);
    ~Upload()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool write(const char *data, size_t length)
    {
        while (length > 0) {
            const ssize_t n = ::write(fd, data, length);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            length -= size_t(n);
        }
        return true;
    }
};

std::vector<size_t> utterancesOf(const std::vector<int16_t> &samples)
{
    return capUtterances(utteranceBounds(samples.data(), samples.size()), kMaxUtteranceSamples);
}

void answerTranscript(httplib::Response &res, const Form &form, const Transcript &transcript)
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

bool builtInKeyAllowed(
    const TranscriptionContext &context, std::optional<uid_t> peerOwner, uid_t serviceUser)
{
    return !context.clientsFromFile && context.listensOnLoopback && peerOwner
        && *peerOwner == serviceUser;
}

bool authoriseApiRequest(
    const httplib::Request &req, httplib::Response &res, const TranscriptionContext &context)
{
    return authorise(req, res, context).has_value();
}

void answerModels(httplib::Response &res, const TranscriptionContext &context)
{
    if (refuseUnlessServing(res, context))
        return;
    std::set<int> installed;
    for (const auto &entry : *context.pools)
        installed.insert(entry.first);
    res.status = 200;
    res.set_content(toJson(modelList(installed, context.modelsSince)), kJson);
}

TranscriptionNote answerTranscription(const httplib::Request &req, httplib::Response &res,
    const httplib::ContentReader &reader, const TranscriptionContext &context)
{
    TranscriptionNote note;
    // Everything that needs no body is answered before any of it is read.
    note.bodyLeftUnread = true;
    if (refuseUnlessServing(res, context))
        return note;
    if (!req.is_multipart_form_data()) {
        answerApiError(res, 400,
            "the request must be multipart/form-data with the audio in a field named file");
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

    Upload upload;
    if (upload.fd < 0) {
        answerApiError(res, 500, "the file could not be handed to the decoder");
        return note;
    }
    std::vector<FormPart> parts;
    bool inFile = false; // the part being received is the first file
    bool haveFile = false;
    bool tooManyParts = false;
    bool tooLarge = false;
    bool writeFailed = false;
    const bool complete = reader(
        [&](const httplib::MultipartFormData &head) {
            if (parts.size() >= kMaxFormParts) {
                tooManyParts = true;
                return false;
            }
            parts.push_back({ head.name, {}, 0 });
            inFile = head.name == "file" && !haveFile;
            haveFile |= head.name == "file";
            return true;
        },
        [&](const char *data, size_t length) {
            FormPart &part = parts.back();
            part.size += length;
            if (inFile) {
                tooLarge = part.size > context.maxUploadBytes;
                writeFailed = !tooLarge && !upload.write(data, length);
                return !tooLarge && !writeFailed;
            }
            if (part.name != "file") {
                const size_t room = fieldLimit(part.name) + 1;
                part.value.append(data, std::min(length, room - std::min(room, part.value.size())));
            }
            return true;
        });
    if (tooLarge) {
        answerApiError(res, 413,
            "the upload is larger than the " + std::to_string(context.maxUploadBytes)
                + " bytes this service takes",
            "file", "file_too_large");
        return note;
    }
    if (writeFailed) {
        answerApiError(res, 500, "the file could not be handed to the decoder");
        return note;
    }
    if (tooManyParts) {
        answerApiError(
            res, 400, "the form has more than " + std::to_string(kMaxFormParts) + " parts");
        return note;
    }
    if (!complete) {
        if (GuardedHttpServer::readTimedOut())
            answerApiError(
                res, 408, "the upload stopped: nothing came for 5 s; send the file again");
        else
            answerApiError(res, 400, "the form could not be read");
        return note;
    }
    note.bodyLeftUnread = false;

    const FormCheck check = checkForm(parts);
    if (!check.form) {
        answerApiError(res, 400, check.message, check.param);
        return note;
    }
    const Form &form = *check.form;
    std::set<int> installed;
    for (const auto &entry : *context.pools)
        installed.insert(entry.first);
    const ModelChoice choice
        = chooseModel(form.model, form.language, installed, context.defaultDevPid);
    if (!choice.ok()) {
        answerApiError(res, choice.status, choice.message, choice.param, choice.code);
        return note;
    }

    DecodedMedia media = decodeMediaFile(upload.fd, context.decode);
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
        answerTranscript(res, form, transcript);
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
