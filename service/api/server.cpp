#include "service/api/server.h"

#include "service/api/body_rules.h"
#include "service/api/json_shape.h"
#include "service/api/recognition_request.h"
#include "service/api/transcript_reply.h"
#include "service/api/transcription_api.h"
#include "service/auth/owner_proof.h"
#include "service/http/client_address.h"
#include "service/http/guarded_server.h"
#include "service/http/log_text.h"

#include <httplib.h>
#include <json/json.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sys/socket.h>

namespace speech {

namespace {

namespace path = speechprotocol::path;
namespace tok = speechprotocol::token;
namespace reply = speechprotocol::reply;

// What the handler learnt about a request, for the log line the logger
// writes once the reply is out. Both run on the same worker thread.
struct RequestNote
{
    int errNo = -1;
    double audioSeconds = -1;
    long long decodeMs = -1;
};
thread_local RequestNote tlsNote;

const char *kJson = "application/json; charset=utf-8";

int64_t unixNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Json::Value errorBody(const char *error, const std::string &description)
{
    Json::Value body;
    body[speechprotocol::kError] = error;
    body[speechprotocol::kErrorDescription] = description;
    return body;
}

void oauthError(
    httplib::Response &res, int status, const char *error, const std::string &description)
{
    res.status = status;
    res.set_content(toJson(errorBody(error, description)), kJson);
}

// The body length the head declares; a transfer coding overrides it.
std::optional<uint64_t> declaredLength(const httplib::Request &req)
{
    if (req.has_header("Transfer-Encoding") || !req.has_header("Content-Length"))
        return std::nullopt;
    const std::string text = req.get_header_value("Content-Length");
    uint64_t length = 0;
    std::from_chars(text.data(), text.data() + text.size(), length);
    return length;
}

// The status that refuses a request from its head, before its body is read.
int refusalFor(const httplib::Request &req, const ServiceLimits &limits)
{
    const bool transferCoded = req.has_header("Transfer-Encoding");
    const std::optional<uint64_t> declared = declaredLength(req);
    // The library reads the body of these methods up to the end of the
    // connection when no length is given.
    const bool takesBody = req.method == "POST" || req.method == "PUT" || req.method == "PATCH"
        || req.method == "DELETE";
    const bool hasBody = transferCoded || (declared ? *declared > 0 : takesBody);
    return refusalBeforeBody(bodyRuleFor(req.method, req.path, limits), declared, hasBody);
}

} // namespace

struct SpeechServer::Impl
{
    enum class State { Loading, Ready, Stopping };

    ServiceConfig config; // its pools are read only once the state is Ready
    TokenSigner signer;
    ClientRegistry clients;
    std::atomic<size_t> transcriptions { 0 };
    int64_t modelsSince = 0;
    std::mutex logMutex;
    GuardedHttpServer http;
    int listenSocket = -1;
    bool listensOnLoopback = false; // set once, before serving
    std::atomic<State> state;

    std::mutex progressMutex;
    std::condition_variable idle;
    size_t inProgress = 0; // recognition requests between arrival and reply

    // Counts a request between arrival and reply, so that a stop waits for it.
    struct InProgress
    {
        Impl &d;
        explicit InProgress(Impl &impl)
            : d(impl)
        {
            std::lock_guard<std::mutex> lock(d.progressMutex);
            ++d.inProgress;
        }
        ~InProgress()
        {
            {
                std::lock_guard<std::mutex> lock(d.progressMutex);
                --d.inProgress;
            }
            d.idle.notify_all();
        }
    };

    explicit Impl(ServiceConfig c)
        : config(std::move(c))
        , signer(config.key)
        , clients(config.clients.empty() ? std::vector<Client> { { config.clientId,
                      config.clientSecret, secretDigest(config.clientSecret) } }
                                         : config.clients)
        , http(config.limits,
              [this](const std::string &address, int status, const char *reason) {
                  return refuseConnection(address, status, reason);
              })
        , state(config.pools.empty() ? State::Loading : State::Ready)
    { }

    void handleToken(const httplib::Request &req, httplib::Response &res);
    void handleRecognition(const std::string &body, httplib::Response &res);
    void handleHealth(httplib::Response &res);
    TranscriptionContext transcriptionContext();
    void refuseUnready(httplib::Response &res);
    void describeError(const httplib::Request &req, httplib::Response &res) const;
    std::string refuseConnection(const std::string &address, int status, const char *reason);
    void log(const httplib::Request &req, const httplib::Response &res);
    void receiveRecognition(
        const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);
    int refusalFromHead(const httplib::Request &req, httplib::Response &res);
    void installBodyGuards();
    void installRoutes();
    void installErrorReplies();
    void writeLogLine(const std::string &line);
};

void SpeechServer::Impl::handleToken(const httplib::Request &req, httplib::Response &res)
{
    const std::string grantType = req.get_param_value(tok::kGrantType);
    const std::string clientId = req.get_param_value(tok::kClientId);
    const std::string clientSecret = req.get_param_value(tok::kClientSecret);
    if (grantType != tok::kClientCredentials) {
        oauthError(res, 400, "unsupported_grant_type", "grant_type must be client_credentials");
        return;
    }
    if (!clients.accepts(clientId, clientSecret)) {
        oauthError(res, 401, "invalid_client", "unknown client id or wrong client secret");
        return;
    }

    const int64_t now = unixNow();
    Json::Value body;
    // Bound to the secret, so that changing it revokes what was issued under it.
    const std::string binding = clients.bindingOf(clientId);
    body[tok::kAccessToken]
        = signer.sign(TokenSigner::Kind::Access, clientId, now + kTokenLifetimeSeconds, binding);
    body[tok::kSessionKey] = randomHex(16);
    body[tok::kRefreshToken] = signer.sign(
        TokenSigner::Kind::Refresh, clientId, now + kRefreshTokenLifetimeSeconds, binding);
    body[tok::kSessionSecret] = randomHex(16);
    body[tok::kExpiresIn] = Json::Int64(kTokenLifetimeSeconds);
    body[tok::kScope] = "speech_recognition";
    res.status = 200;
    res.set_content(toJson(body), kJson);
}

void SpeechServer::Impl::handleRecognition(const std::string &requestBody, httplib::Response &res)
{
    RequestContext context;
    context.signer = &signer;
    context.clients = clients.bindings();
    for (const auto &entry : config.pools)
        context.installedModels.insert(entry.first);
    context.defaultDevPid = config.defaultDevPid;
    context.now = unixNow();

    Json::Value body;
    body[reply::kSn] = randomHex(12);
    // Refusals are replies, not transport failures: status 200 with err_no.
    res.status = 200;

    CheckedRequest checked = checkRecognitionRequest(requestBody, context);
    tlsNote.audioSeconds = checked.audioSeconds;
    if (!checked.ok()) {
        body[reply::kErrNo] = checked.errNo;
        body[reply::kErrMsg] = checked.errMsg;
        tlsNote.errNo = checked.errNo;
        res.set_content(toJson(body), kJson);
        return;
    }

    DecoderPool &pool = *config.pools.at(checked.devPid);
    try {
        const DecoderPool::Outcome outcome
            = pool.recognize(checked.audio.samples.data(), checked.audio.samples.size());
        body[reply::kErrNo] = err::kSuccess;
        body[reply::kErrMsg] = reply::kSuccessMessage;
        body[reply::kResult] = Json::Value(Json::arrayValue);
        if (!outcome.text.empty())
            body[reply::kResult].append(outcome.text);
        body[reply::kUtterances] = utterancesJson(outcome.utterances);
        body[reply::kDecodeMs] = Json::Int64(outcome.decodeMs);
        tlsNote.errNo = err::kSuccess;
        tlsNote.decodeMs = outcome.decodeMs;
    } catch (const DecoderPool::Busy &busy) {
        // The desktop answers this with a short back-off and the same segment.
        body[reply::kErrNo] = err::kBusy;
        body[reply::kErrMsg]
            = std::string("the service is busy: ") + busy.what() + "; send the request again";
        tlsNote.errNo = err::kBusy;
    } catch (const std::exception &e) {
        body[reply::kErrNo] = err::kRecognitionFailed;
        body[reply::kErrMsg] = std::string("recognition failed: ") + e.what();
        tlsNote.errNo = err::kRecognitionFailed;
    }
    res.set_content(toJson(body), kJson);
}

TranscriptionContext SpeechServer::Impl::transcriptionContext()
{
    TranscriptionContext context;
    context.clients = &clients;
    const State now = state.load(std::memory_order_acquire);
    context.pools = now == State::Ready ? &config.pools : nullptr;
    context.stopping = now == State::Stopping;
    context.defaultDevPid = config.defaultDevPid;
    context.modelsSince = modelsSince;
    context.decode.time = std::chrono::seconds(config.limits.decodeTimeoutSeconds);
    context.decode.maxSamples = size_t(config.limits.maxAudioMinutes) * 60 * kSampleRate;
    context.inProgress = &transcriptions;
    context.maxUploadBytes = config.limits.maxUploadBytes;
    context.clientsFromFile = !config.clients.empty();
    context.listensOnLoopback = listensOnLoopback;
    return context;
}

void SpeechServer::Impl::handleHealth(httplib::Response &res)
{
    Json::Value body;
    const State now = state.load(std::memory_order_acquire);
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        body["requests_in_progress"] = Json::UInt64(inProgress);
    }
    if (now != State::Ready) {
        body["status"] = now == State::Loading ? "loading" : "stopping";
        res.status = 503;
        res.set_content(toJson(body), kJson);
        return;
    }
    body["status"] = "ready";
    body["dev_pids"] = Json::Value(Json::arrayValue);
    for (const auto &[devPid, pool] : config.pools) {
        const std::string key = std::to_string(devPid);
        body["dev_pids"].append(devPid);
        body["decoders"][key] = Json::UInt64(pool->size());
        body["free_decoders"][key] = Json::UInt64(pool->freeCount());
    }
    res.status = 200;
    res.set_content(toJson(body), kJson);
}

// Not the protocol's 200: an HTTP error is what makes a balancer try the
// request on another instance at once, and it changes nothing here.
void SpeechServer::Impl::refuseUnready(httplib::Response &res)
{
    const bool loading = state.load() == State::Loading;
    Json::Value body;
    body[reply::kSn] = randomHex(12);
    body[reply::kErrNo] = err::kBusy;
    body[reply::kErrMsg] = loading
        ? "the service is still loading its models; send the request again"
        : "the service is stopping; send the request again";
    tlsNote.errNo = err::kBusy;
    res.status = 503;
    res.set_header("Retry-After", "1");
    res.set_content(toJson(body), kJson);
}

void SpeechServer::Impl::describeError(const httplib::Request &req, httplib::Response &res) const
{
    // The library answers a head it could not read with 400; say why.
    if (res.status == 400
        && (GuardedHttpServer::currentCut() == GuardedHttpServer::Cut::TimedOut
            || GuardedHttpServer::readTimedOut()))
        res.status = 408;
    if (res.status == 400
        && GuardedHttpServer::currentCut() == GuardedHttpServer::Cut::HeadTooLarge)
        res.status = 431;
    if (GuardedHttpServer::currentCut() != GuardedHttpServer::Cut::None)
        res.set_header("Connection", "close");
    const ServiceLimits &limits = config.limits;
    if (isTranscriptionApiPath(req.path)) {
        const int status = res.status;
        if (status == 413 && req.path == kTranscriptionsPath && req.method == "POST")
            answerApiError(res, status,
                "the upload is larger than the " + std::to_string(limits.maxUploadBytes)
                    + " bytes this service takes",
                "file", "file_too_large");
        else if (status == 413)
            answerApiError(res, status, req.method + " " + req.path + " takes no body");
        else if (status == 404)
            answerApiError(res, status, "no such endpoint: " + req.method + " " + req.path);
        else
            answerApiError(res, status,
                status == 408 ? "the request did not arrive in time: within "
                        + std::to_string(limits.requestTimeoutSeconds)
                        + " s, with no pause longer than 5 s"
                    : status == 416 ? std::string("the requested range is not satisfiable")
                                    : std::string("the request could not be read"));
        return;
    }
    Json::Value body;
    switch (res.status) {
    case 404:
        body = errorBody("not_found", "no such endpoint: " + req.method + " " + req.path);
        break;
    case 408:
        body = errorBody("request_timeout",
            "a request must arrive within " + std::to_string(limits.requestTimeoutSeconds)
                + " s, with no pause longer than 5 s");
        break;
    case 411:
        body = errorBody("length_required", "a body on this path needs a Content-Length");
        break;
    case 413: {
        const size_t limit = bodyRuleFor(req.method, req.path, limits).maxBytes;
        body = errorBody("payload_too_large",
            limit ? "request bodies here are limited to " + std::to_string(limit) + " bytes"
                  : std::string("this request takes no body"));
        break;
    }
    case 416:
        body = errorBody("range_not_satisfiable", "the requested range is not satisfiable");
        break;
    case 431:
        body = errorBody("header_fields_too_large",
            "a request head is limited to " + std::to_string(limits.maxHeaderBytes) + " bytes and "
                + std::to_string(limits.maxHeaderCount) + " header lines");
        break;
    default:
        body = errorBody("bad_request", "the request could not be handled");
    }
    res.set_content(toJson(body), kJson);
}

std::string SpeechServer::Impl::refuseConnection(
    const std::string &address, int status, const char *reason)
{
    writeLogLine("- - status=" + std::to_string(status) + " err_no=- audio_s=- decode_ms=- refused="
        + escapeForLog(address) + ": " + reason + "\n");
    const char *error = status == 408 ? "request_timeout"
        : status == 431               ? "header_fields_too_large"
                                      : "unavailable";
    return toJson(errorBody(error, reason));
}

void SpeechServer::Impl::log(const httplib::Request &req, const httplib::Response &res)
{
    const bool logged = GuardedHttpServer::repliedForLibrary();
    GuardedHttpServer::replySent();
    if (logged) {
        tlsNote = RequestNote();
        return;
    }
    char line[1024];
    const RequestNote note = tlsNote;
    tlsNote = RequestNote();
    char errNo[16] = "-";
    char audio[32] = "-";
    char decode[32] = "-";
    if (note.errNo >= 0)
        std::snprintf(errNo, sizeof errNo, "%d", note.errNo);
    if (note.audioSeconds >= 0)
        std::snprintf(audio, sizeof audio, "%.2f", note.audioSeconds);
    if (note.decodeMs >= 0)
        std::snprintf(decode, sizeof decode, "%lld", note.decodeMs);
    // The path only: a token request's query holds the client secret. Both
    // come from the client, so neither may end the line or fake a field.
    const std::string method = req.method.empty() ? "-" : escapeForLog(req.method, 16);
    const std::string path = req.path.empty() ? "-" : escapeForLog(req.path);
    std::snprintf(line, sizeof line, "%s %s status=%d err_no=%s audio_s=%s decode_ms=%s\n",
        method.c_str(), path.c_str(), res.status, errNo, audio, decode);
    writeLogLine(line);
}

void SpeechServer::Impl::writeLogLine(const std::string &line)
{
    std::lock_guard<std::mutex> lock(logMutex);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

// The body is read here rather than by the library, so that a body without
// a declared length meets the same limit while it arrives.
void SpeechServer::Impl::receiveRecognition(
    const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader)
{
    InProgress inProgress(*this);
    std::string body;
    // Room for the whole body at once, not twice its size as it grows.
    if (const std::optional<uint64_t> length = declaredLength(req))
        body.reserve(size_t(std::min<uint64_t>(*length, kMaxRecognitionBodyBytes)));
    bool tooLarge = false;
    const bool complete = reader([&](const char *data, size_t length) {
        tooLarge = body.size() + length > kMaxRecognitionBodyBytes;
        if (!tooLarge)
            body.append(data, length);
        return !tooLarge;
    });
    GuardedHttpServer::requestReceived();
    if (tooLarge || !complete) {
        GuardedHttpServer::closeAfterReply();
        res.set_header("Connection", "close");
        res.status = tooLarge ? 413 : 400;
        return;
    }
    if (state.load(std::memory_order_acquire) != State::Ready) {
        refuseUnready(res);
        return;
    }
    handleRecognition(body, res);
}

// The status that refuses a request from its head (its body, its key), or 0.
int SpeechServer::Impl::refusalFromHead(const httplib::Request &req, httplib::Response &res)
{
    if (const int status = refusalFor(req, config.limits))
        return status;
    // A key is checked from the head, so that nobody without one gets an
    // upload read, nor is asked to send it.
    const bool apiRoute = (req.method == "GET" && req.path == kModelsPath)
        || (req.method == "POST" && req.path == kTranscriptionsPath);
    if (apiRoute && !authoriseApiRequest(req, res, transcriptionContext()))
        return res.status;
    return 0;
}

// The checks of a request's head before any of its body is read.
void SpeechServer::Impl::installBodyGuards()
{
    // A client that asks before sending its body is refused before sending it.
    http.set_expect_100_continue_handler(
        [this](const httplib::Request &req, httplib::Response &res) {
            const int status = refusalFromHead(req, res);
            if (status == 0)
                return 100;
            GuardedHttpServer::closeAfterReply();
            res.status = status;
            return status;
        });
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        // Replies are small and made anew for each request: a Range is
        // ignored (as HTTP lets a server), so that every reply goes out whole
        // rather than cut, or emptied when the range lies beyond it. The
        // library's request object is its own, not a constant one; only the
        // ranges it parsed from the head are dropped. A Range it cannot parse
        // gets 416 with a body from the error handler.
        const_cast<httplib::Request &>(req).ranges.clear();
        if (const int status = http.headReceived(req)) {
            GuardedHttpServer::requestReceived();
            GuardedHttpServer::closeAfterReply();
            res.set_header("Connection", "close");
            res.status = status;
            return httplib::Server::HandlerResponse::Handled;
        }
        // A request with neither a length nor a transfer coding has no body,
        // but the library would wait for one until the connection ends.
        if (req.method == "POST" && !req.has_header("Content-Length")
            && !req.has_header("Transfer-Encoding")) {
            GuardedHttpServer::requestReceived();
            if (req.path == path::kToken) {
                handleToken(req, res);
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.path == path::kRecognition) {
                handleRecognition({}, res);
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        const int status = refusalFromHead(req, res);
        if (status == 0)
            return httplib::Server::HandlerResponse::Unhandled;
        // The body stays unread, so the connection cannot carry another request.
        GuardedHttpServer::requestReceived();
        GuardedHttpServer::closeAfterReply();
        res.set_header("Connection", "close");
        res.status = status;
        return httplib::Server::HandlerResponse::Handled;
    });
}

void SpeechServer::Impl::installRoutes()
{
    auto token = [this](const httplib::Request &req, httplib::Response &res) {
        GuardedHttpServer::requestReceived();
        handleToken(req, res);
    };
    http.Get(path::kToken, token);
    http.Post(path::kToken, token);
    http.Post(path::kRecognition,
        [this](const httplib::Request &req, httplib::Response &res,
            const httplib::ContentReader &reader) { receiveRecognition(req, res, reader); });
    http.Get(path::kHealth, [this](const httplib::Request &, httplib::Response &res) {
        GuardedHttpServer::requestReceived();
        handleHealth(res);
    });
    http.Get(kOwnerProofPath,
        [secret = ownerSecretFromEnvironment()](
            const httplib::Request &req, httplib::Response &res) {
            GuardedHttpServer::requestReceived();
            if (!secret) {
                oauthError(res, 404, "no_owner_secret",
                    "this service was started without an owner secret");
                return;
            }
            const std::string nonce = req.get_param_value("nonce");
            if (!isValidNonce(nonce)) {
                oauthError(res, 400, "invalid_nonce", "nonce must be 32 to 128 hex digits");
                return;
            }
            res.set_content("{\"proof\":\"" + ownerProof(*secret, nonce) + "\"}", kJson);
        });
    http.Get(kModelsPath, [this](const httplib::Request &, httplib::Response &res) {
        GuardedHttpServer::requestReceived();
        answerModels(res, transcriptionContext());
    });
    http.Post(kTranscriptionsPath,
        [this](const httplib::Request &req, httplib::Response &res,
            const httplib::ContentReader &reader) {
            InProgress inProgress(*this);
            const TranscriptionNote note
                = answerTranscription(req, res, reader, transcriptionContext());
            GuardedHttpServer::requestReceived();
            if (note.bodyLeftUnread) {
                GuardedHttpServer::closeAfterReply();
                res.set_header("Connection", "close");
            }
            tlsNote.audioSeconds = note.audioSeconds;
            tlsNote.decodeMs = note.decodeMs;
        });
}

// JSON bodies for what no handler answered, and a log line for every reply.
void SpeechServer::Impl::installErrorReplies()
{
    // Statuses the handlers do not set themselves (unknown path, body too
    // large, unreadable request) still get a JSON body.
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request &req, httplib::Response &res) {
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            describeError(req, res);
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
            res.status = 500;
            res.set_content(
                toJson(errorBody("internal_error", "the service failed on this request")), kJson);
        });
    http.set_logger(
        [this](const httplib::Request &req, const httplib::Response &res) { log(req, res); });
}

SpeechServer::SpeechServer(ServiceConfig config)
    : d(new Impl(std::move(config)))
{
    httplib::Server &http = d->http;
    // Bodies are refused from their declared length before they are read;
    // the library's own limit is only the last line.
    http.set_payload_max_length(
        std::max(kMaxRecognitionBodyBytes, d->config.limits.maxUploadBytes + kUploadFormRoomBytes));
    // Address reuse for a quick restart, but not port sharing: a second
    // service on a port in use must fail rather than take half its clients.
    http.set_socket_options([this](int sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        d->listenSocket = sock;
    });

    d->installBodyGuards();
    d->installRoutes();
    d->installErrorReplies();
}

SpeechServer::~SpeechServer() = default;

int SpeechServer::bind(const std::string &host, int port)
{
    d->listensOnLoopback = host == "localhost" || isLoopbackAddress(host);
    const int bound = port == 0 ? d->http.bind_to_any_port(host)
                                : (d->http.bind_to_port(host, port) ? port : -1);
    // The library listens with a backlog of 5; a burst of clients beyond
    // that meets SYN cookies and resets. Listening again only raises it.
    if (bound > 0 && d->listenSocket >= 0) {
        ::listen(d->listenSocket, SOMAXCONN);
        d->http.listeningOn(d->listenSocket);
    }
    return bound;
}

bool SpeechServer::serve()
{
    return d->http.listen_after_bind();
}

bool SpeechServer::running() const
{
    return d->http.is_running();
}

void SpeechServer::stop()
{
    d->http.stop();
}

void SpeechServer::setModels(DecoderPools pools)
{
    if (d->state.load() != Impl::State::Loading)
        return;
    // Nobody reads the pools before the state says Ready.
    d->config.pools = std::move(pools);
    d->modelsSince = unixNow();
    Impl::State loading = Impl::State::Loading;
    d->state.compare_exchange_strong(loading, Impl::State::Ready, std::memory_order_release);
}

void SpeechServer::setClients(std::vector<Client> clients)
{
    d->clients.replace(std::move(clients));
}

void SpeechServer::beginStop()
{
    d->state.store(Impl::State::Stopping);
}

bool SpeechServer::stopping() const
{
    return d->state.load() == Impl::State::Stopping;
}

bool SpeechServer::waitIdle(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(d->progressMutex);
    return d->idle.wait_for(lock, limit, [this] { return d->inProgress == 0; });
}

} // namespace speech
