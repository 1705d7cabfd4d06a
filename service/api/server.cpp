#include "service/api/server.h"

#include "service/api/api_paths.h"
#include "service/api/body_rules.h"
#include "service/api/errors.h"
#include "service/api/health.h"
#include "service/api/in_progress.h"
#include "service/api/live_route.h"
#include "service/api/transcription_api.h"
#include "service/auth/owner_proof.h"
#include "service/http/client_address.h"
#include "service/http/http_server.h"

#include <atomic>
#include <functional>
#include <optional>

namespace speech {

namespace {

namespace path = speechprotocol::path;

const char *kJson = "application/json; charset=utf-8";

// How a route is entered.
enum class Gate {
    Open, // always served: the token, health, the owner proof
    Recognition, // only once ready, turned away in the recognition's reply shape
    Api, // only once ready, turned away in the transcription API's error shape
};
// Whether a stop waits for the route's requests (health counts them).
enum class Counted { No, Yes };

// The status that refuses a request from its head, before its body is read.
int refusalFor(const http::Request &req, const ServiceLimits &limits)
{
    const std::optional<uint64_t> declared = req.declaredLength();
    // The library reads the body of these methods up to the end of the connection when no
    // length is given.
    const std::string &method = req.method();
    const bool takesBody
        = method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
    const bool hasBody = req.transferCoded() || (declared ? *declared > 0 : takesBody);
    return refusalBeforeBody(bodyRuleFor(method, req.path(), limits), declared, hasBody);
}

} // namespace

struct SpeechServer::Impl
{
    ServiceConfig config; // its pools are read only once the state is Ready
    TokenSigner signer;
    ClientRegistry clients;
    int64_t modelsSince = 0;
    bool listensOnLoopback = false; // set once, before serving
    std::atomic<Readiness> state;
    RequestsInProgress inProgress;
    LiveSessions live;
    http::Server http;

    explicit Impl(ServiceConfig c);

    using Handler = std::function<void(
        const http::Request &, http::Response &, const std::string &, http::BodyReader &)>;
    void add(const char *method, const char *path, http::Body body, Gate gate, Counted counted,
        Handler handler);
    void installRoutes();
    bool refuseUnready(Gate gate, http::Response &res) const;
    int refusalFromHead(const http::Request &req, http::Response &res);
    TokenProtocol tokenProtocol() const;
    TranscriptionContext transcriptionContext();
};

SpeechServer::Impl::Impl(ServiceConfig c)
    : config(std::move(c))
    , signer(config.key)
    , clients(config.clients.empty() ? std::vector<Client> { { config.clientId, config.clientSecret,
                  secretDigest(config.clientSecret) } }
                                     : config.clients)
    , state(config.pools.empty() ? Readiness::Loading : Readiness::Ready)
    , live(config.live)
    , http(config.limits,
          std::max(kMaxRecognitionBodyBytes, config.limits.maxUploadBytes + kUploadFormRoomBytes),
          { [this](const http::Request &req, http::Response &res) {
               return refusalFromHead(req, res);
           },
              [this](const http::Request &req, http::Response &res) {
                  describeError(req, res, config.limits);
              },
              [](http::Response &res) {
                  answerTokenError(
                      res, 500, "internal_error", "the service failed on this request");
              },
              [](int status, const char *reason) {
                  return tokenErrorBody(status == 408 ? "request_timeout"
                          : status == 431             ? "header_fields_too_large"
                                                      : "unavailable",
                      reason);
              } })
{
    installRoutes();
}

// The one step into every route: a counted route is counted among the requests in progress
// for the whole call, and a gated one, once its body is in, turned away unless the service is
// ready. The one buffered body is the recognition's.
void SpeechServer::Impl::add(const char *method, const char *path, http::Body body, Gate gate,
    Counted counted, Handler handler)
{
    const size_t maxBytes = body == http::Body::Buffered ? kMaxRecognitionBodyBytes : 0;
    http::Route route { method, path, body, maxBytes,
        [this, gate, handler = std::move(handler)](const http::Request &req, http::Response &res,
            const std::string &requestBody, http::BodyReader &reader) {
            if (!refuseUnready(gate, res))
                handler(req, res, requestBody, reader);
        },
        nullptr };
    if (counted == Counted::Yes)
        route.enter
            = [this](const http::Request &, http::Response &, const std::function<void()> &handle) {
                  RequestsInProgress::Request counted(inProgress);
                  handle();
              };
    http.add(std::move(route));
}

// The route table.
void SpeechServer::Impl::installRoutes()
{
    const auto token = [this](const http::Request &req, http::Response &res, const std::string &,
                           http::BodyReader &) { answerToken(req, res, tokenProtocol()); };
    add("GET", path::kToken, http::Body::None, Gate::Open, Counted::No, token);
    add("POST", path::kToken, http::Body::None, Gate::Open, Counted::No, token);
    add("POST", path::kRecognition, http::Body::Buffered, Gate::Recognition, Counted::Yes,
        [this](const http::Request &, http::Response &res, const std::string &body,
            http::BodyReader &) { answerRecognition(body, res, tokenProtocol()); });
    add("POST", path::kLive, http::Body::Buffered, Gate::Recognition, Counted::Yes,
        [this](const http::Request &, http::Response &res, const std::string &body,
            http::BodyReader &) { answerLivePiece(body, res, tokenProtocol(), live); });
    add("GET", path::kHealth, http::Body::None, Gate::Open, Counted::No,
        [this](
            const http::Request &, http::Response &res, const std::string &, http::BodyReader &) {
            answerHealth(
                res, state.load(std::memory_order_acquire), inProgress.count(), config.pools);
        });
    add("GET", kOwnerProofPath, http::Body::None, Gate::Open, Counted::No,
        [owner = OwnerSecret::fromEnvironment()](const http::Request &req, http::Response &res,
            const std::string &, http::BodyReader &) {
            const std::optional<std::string> secret = owner.current();
            if (!secret) {
                answerTokenError(res, 404, "no_owner_secret", "this service has no owner secret");
                return;
            }
            const std::string nonce = req.param("nonce");
            if (!isValidNonce(nonce)) {
                answerTokenError(res, 400, "invalid_nonce", "nonce must be 32 to 128 hex digits");
                return;
            }
            res.setStatus(200);
            res.setContent("{\"proof\":\"" + ownerProof(*secret, nonce) + "\"}", kJson);
        });
    add("GET", kModelsPath, http::Body::None, Gate::Api, Counted::No,
        [this](const http::Request &, http::Response &res, const std::string &,
            http::BodyReader &) { answerModels(res, transcriptionContext()); });
    add("POST", kTranscriptionsPath, http::Body::Streamed, Gate::Api, Counted::Yes,
        [this](const http::Request &req, http::Response &res, const std::string &,
            http::BodyReader &reader) {
            answerTranscription(req, res, reader, transcriptionContext());
        });
}

// Not the protocol's 200: an HTTP error is what makes a balancer try the request on another
// instance at once, and it changes nothing here.
bool SpeechServer::Impl::refuseUnready(Gate gate, http::Response &res) const
{
    const Readiness now = state.load(std::memory_order_acquire);
    if (gate == Gate::Open || now == Readiness::Ready)
        return false;
    if (gate == Gate::Recognition) {
        refuseRecognition(res, unreadyMessage(now));
    } else {
        res.setHeader("Retry-After", "1");
        answerApiError(res, 503, unreadyMessage(now));
    }
    return true;
}

// The status that refuses a request from its head (its body, its key), or 0.
int SpeechServer::Impl::refusalFromHead(const http::Request &req, http::Response &res)
{
    if (const int status = refusalFor(req, config.limits))
        return status;
    // A key is checked from the head, so that nobody without one gets an upload read, nor is
    // asked to send it.
    const bool apiRoute = (req.method() == "GET" && req.path() == kModelsPath)
        || (req.method() == "POST" && req.path() == kTranscriptionsPath);
    if (apiRoute && !authoriseApiRequest(req, res, transcriptionContext()))
        return res.status();
    return 0;
}

TokenProtocol SpeechServer::Impl::tokenProtocol() const
{
    return { &signer, &clients, &config.pools, config.defaultDevPid };
}

TranscriptionContext SpeechServer::Impl::transcriptionContext()
{
    TranscriptionContext context;
    context.clients = &clients;
    context.pools = &config.pools;
    context.defaultDevPid = config.defaultDevPid;
    context.modelsSince = modelsSince;
    context.decode.time = std::chrono::seconds(config.limits.decodeTimeoutSeconds);
    context.decode.maxSamples = size_t(config.limits.maxAudioMinutes) * 60 * kSampleRate;
    context.inProgress = &inProgress;
    context.maxUploadBytes = config.limits.maxUploadBytes;
    context.clientsFromFile = !config.clients.empty();
    context.listensOnLoopback = listensOnLoopback;
    return context;
}

SpeechServer::SpeechServer(ServiceConfig config)
    : d(new Impl(std::move(config)))
{ }

SpeechServer::~SpeechServer() = default;

int SpeechServer::bind(const std::string &host, int port)
{
    d->listensOnLoopback = host == "localhost" || isLoopbackAddress(host);
    return d->http.bind(host, port);
}

bool SpeechServer::serve()
{
    return d->http.serve();
}

bool SpeechServer::running() const
{
    return d->http.running();
}

void SpeechServer::stop()
{
    d->http.stop();
}

void SpeechServer::setModels(DecoderPools pools)
{
    if (d->state.load() != Readiness::Loading)
        return;
    // Nobody reads the pools before the state says Ready.
    d->config.pools = std::move(pools);
    d->modelsSince = unixNow();
    Readiness loading = Readiness::Loading;
    d->state.compare_exchange_strong(loading, Readiness::Ready, std::memory_order_release);
}

void SpeechServer::setClients(std::vector<Client> clients)
{
    d->clients.replace(std::move(clients));
}

void SpeechServer::beginStop()
{
    d->state.store(Readiness::Stopping);
}

bool SpeechServer::stopping() const
{
    return d->state.load() == Readiness::Stopping;
}

bool SpeechServer::waitIdle(std::chrono::milliseconds limit)
{
    return d->inProgress.waitIdle(limit);
}

} // namespace speech
