#pragma once

#include "protocol/speechprotocol.h"
#include "service/api/token_protocol.h"
#include "service/auth/clients_file.h"
#include "service/auth/token.h"
#include "service/http/service_limits.h"
#include "service/recognition/live_sessions.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace speech {

struct ServiceConfig
{
    std::string key; // signs the tokens; must not be empty
    std::string clientId;
    std::string clientSecret;
    // The accepted clients; empty: the one pair above.
    std::vector<Client> clients;
    int defaultDevPid = speechprotocol::kEnglishDevPid;
    // By dev_pid. Empty: the server starts in the loading state and serves
    // recognitions once setModels() hands them over.
    DecoderPools pools;
    ServiceLimits limits;
    LiveLimits live;
};

// The service's routes: the token protocol, the transcription API, health and the owner proof.
// It can listen while the models still load, so that a balancer polling
// GET /health sees 503 until they are in and again once a stop has begun.
class SpeechServer
{
public:
    explicit SpeechServer(ServiceConfig config);
    ~SpeechServer();

    SpeechServer(const SpeechServer &) = delete;
    SpeechServer &operator=(const SpeechServer &) = delete;

    // Binds the listening socket; port 0 takes a free one. Returns the port,
    // or -1 when the address cannot be bound.
    int bind(const std::string &host, int port);
    // Serves until stop(); returns false when serving failed.
    bool serve();
    bool running() const;
    void stop();

    // The models are loaded: recognitions are served and health says 200.
    // Ignored once a stop has begun.
    void setModels(DecoderPools pools);
    // Health turns to 503 and new recognitions are turned away with 503, so
    // that a balancer sends them elsewhere; requests in progress go on.
    void beginStop();
    bool stopping() const;
    // The accepted clients from now on; the next request of a client no
    // longer listed, and its tokens, are refused. Requests in progress go on.
    void setClients(std::vector<Client> clients);
    // Waits until no recognition request is in progress; false when some
    // still are after `limit`.
    bool waitIdle(std::chrono::milliseconds limit);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace speech
