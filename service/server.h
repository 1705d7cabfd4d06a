#pragma once

#include "decoder_pool.h"
#include "service_limits.h"
#include "token.h"

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
    int defaultDevPid = 1737;
    std::map<int, std::shared_ptr<DecoderPool>> pools; // by dev_pid
    ServiceLimits limits;
};

// The HTTP side: the token and recognition endpoints over cpp-httplib.
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
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace speech
