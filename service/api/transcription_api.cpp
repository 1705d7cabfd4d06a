#include "service/api/transcription_api.h"

#include "service/api/errors.h"
#include "service/api/json_shape.h"
#include "service/api/model_catalog.h"
#include "service/api/transcript_reply.h"
#include "service/api/transcription_form.h"
#include "service/auth/token.h"
#include "service/http/client_address.h"
#include "service/recognition/silence_splitter.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

namespace speech {

namespace {

const char *kJson = "application/json; charset=utf-8";
const char *kText = "text/plain; charset=utf-8";

// Longer stretches without a pause are cut, as the recogniser takes at most
// this much at once on the token protocol too.
constexpr size_t kMaxUtteranceSamples = 60 * 16000;

// The client the bearer key belongs to; answers 401 and gives nothing when none.
std::optional<std::string> authorise(
    const http::Request &req, http::Response &res, const TranscriptionContext &context)
{
    const std::string header = req.header("Authorization");
    const std::string scheme = "Bearer ";
    if (header.size() <= scheme.size() || strncasecmp(header.c_str(), scheme.c_str(), 7) != 0) {
        answerApiError(res, 401,
            "no API key given; send it as Authorization: Bearer KEY (the client secret)", {},
            "invalid_api_key");
        return std::nullopt;
    }
    const std::string key = header.substr(scheme.size());
    if (constantTimeEquals(key, speechprotocol::token::kBuiltInClientSecret)) {
        const http::Request::Endpoint remote = req.remote();
        const http::Request::Endpoint local = req.local();
        const std::optional<uid_t> owner
            = loopbackPeerOwner({ remote.address, remote.port }, { local.address, local.port });
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

void answerTranscript(http::Response &res, const Form &form, const Transcript &transcript)
{
    res.setStatus(200);
    if (form.responseFormat == "json") {
        Json::Value body;
        body["text"] = transcript.text;
        res.setContent(toJson(body), kJson);
    } else if (form.responseFormat == "verbose_json") {
        res.setContent(toJson(verboseJson(transcript, form.segments, form.words)), kJson);
    } else if (form.responseFormat == "text") {
        res.setContent(transcript.text + "\n", kText);
    } else if (form.responseFormat == "srt") {
        res.setContent(srtBody(transcript.utterances), kText);
    } else {
        res.setContent(vttBody(transcript.utterances), kText);
    }
}

// The form as it arrived: its fields, and the first file in the memory file.
struct ReceivedForm
{
    std::vector<FormPart> parts;
    bool tooManyParts = false;
    bool tooLarge = false;
    bool writeFailed = false;
    bool complete = false;
};

ReceivedForm receiveForm(
    http::BodyReader &reader, Upload &upload, const TranscriptionContext &context)
{
    ReceivedForm form;
    std::vector<FormPart> &parts = form.parts;
    bool inFile = false; // the part being received is the first file
    bool haveFile = false;
    form.complete = reader.readForm(
        [&](const std::string &name) {
            if (parts.size() >= kMaxFormParts) {
                form.tooManyParts = true;
                return false;
            }
            parts.push_back({ name, {}, 0 });
            inFile = name == "file" && !haveFile;
            haveFile |= name == "file";
            return true;
        },
        [&](const char *data, size_t length) {
            FormPart &part = parts.back();
            part.size += length;
            if (inFile) {
                form.tooLarge = part.size > context.maxUploadBytes;
                form.writeFailed = !form.tooLarge && !upload.write(data, length);
                return !form.tooLarge && !form.writeFailed;
            }
            if (part.name != "file") {
                const size_t room = fieldLimit(part.name) + 1;
                part.value.append(data, std::min(length, room - std::min(room, part.value.size())));
            }
            return true;
        });
    return form;
}

// Answers what went wrong while the form arrived; false when nothing did.
bool refuseForm(const ReceivedForm &form, const http::BodyReader &reader, http::Response &res,
    const TranscriptionContext &context)
{
    if (form.tooLarge)
        answerApiError(res, 413,
            "the upload is larger than the " + std::to_string(context.maxUploadBytes)
                + " bytes this service takes",
            "file", "file_too_large");
    else if (form.writeFailed)
        answerApiError(res, 500, "the file could not be handed to the decoder");
    else if (form.tooManyParts)
        answerApiError(
            res, 400, "the form has more than " + std::to_string(kMaxFormParts) + " parts");
    else if (!form.complete && reader.timedOut())
        answerApiError(res, 408, "the upload stopped: nothing came for 5 s; send the file again");
    else if (!form.complete)
        answerApiError(res, 400, "the form could not be read");
    return !form.complete || form.tooLarge || form.writeFailed || form.tooManyParts;
}

std::set<int> installedModels(const TranscriptionContext &context)
{
    std::set<int> installed;
    for (const auto &entry : *context.pools)
        installed.insert(entry.first);
    return installed;
}

void recognizeUpload(http::Response &res, const Form &form, const ModelChoice &choice,
    const DecodedMedia &media, const TranscriptionContext &context)
{
    DecoderPool &pool = *context.pools->at(choice.model.devPid);
    try {
        DecoderPool::Outcome outcome = pool.recognizeUtterances(
            media.samples.data(), media.samples.size(), utterancesOf(media.samples));
        res.note().decodeMs = outcome.decodeMs;
        Transcript transcript;
        transcript.text = std::move(outcome.text);
        transcript.utterances = std::move(outcome.utterances);
        transcript.samples = media.samples.size();
        transcript.language = choice.model.languageName;
        answerTranscript(res, form, transcript);
    } catch (const DecoderPool::Busy &busy) {
        res.setHeader("Retry-After", "5");
        answerApiError(res, 503,
            std::string("the service is busy: ") + busy.what() + "; send the file again shortly");
    } catch (const std::exception &e) {
        answerApiError(res, 500, std::string("recognition failed: ") + e.what());
    }
}

} // namespace

bool builtInKeyAllowed(
    const TranscriptionContext &context, std::optional<uid_t> peerOwner, uid_t serviceUser)
{
    return !context.clientsFromFile && context.listensOnLoopback && peerOwner
        && *peerOwner == serviceUser;
}

bool authoriseApiRequest(
    const http::Request &req, http::Response &res, const TranscriptionContext &context)
{
    return authorise(req, res, context).has_value();
}

void answerModels(http::Response &res, const TranscriptionContext &context)
{
    res.setStatus(200);
    res.setContent(toJson(modelList(installedModels(context), context.modelsSince)), kJson);
}

void answerTranscription(const http::Request &req, http::Response &res, http::BodyReader &reader,
    const TranscriptionContext &context)
{
    // Everything that needs no body is answered before any of it is read.
    if (!req.isMultipartForm()) {
        answerApiError(res, 400,
            "the request must be multipart/form-data with the audio in a field named file");
        return;
    }
    // Each transcription holds its file and its audio while it waits; past this many, the next
    // is asked to come back rather than held.
    std::optional<RequestsInProgress::TranscriptionPlace> place;
    if (context.inProgress && !place.emplace(*context.inProgress, context.maxInProgress)) {
        res.setHeader("Retry-After", "5");
        answerApiError(res, 429, "too many transcriptions in progress; send the file again shortly",
            {}, "rate_limit_exceeded");
        return;
    }
    Upload upload;
    if (upload.fd < 0) {
        answerApiError(res, 500, "the file could not be handed to the decoder");
        return;
    }
    const ReceivedForm received = receiveForm(reader, upload, context);
    if (refuseForm(received, reader, res, context))
        return;

    const FormCheck check = checkForm(received.parts);
    if (!check.form) {
        answerApiError(res, 400, check.message, check.param);
        return;
    }
    const Form &form = *check.form;
    const ModelChoice choice
        = chooseModel(form.model, form.language, installedModels(context), context.defaultDevPid);
    if (!choice.ok()) {
        answerApiError(res, choice.status, choice.message, choice.param, choice.code);
        return;
    }
    const DecodedMedia media = decodeMediaFile(upload.fd, context.decode);
    if (media.status != DecodedMedia::Status::Ok) {
        const bool ours = media.status == DecodedMedia::Status::NoDecoder;
        answerApiError(
            res, ours ? 500 : 400, media.error, ours ? "" : "file", ours ? "" : "invalid_file");
        return;
    }
    res.note().audioSeconds = double(media.samples.size()) / 16000;
    recognizeUpload(res, form, choice, media, context);
}

} // namespace speech
