#pragma once

#include "service/api/errors.h"
#include "service/api/token_protocol.h"
#include "service/http/http_server.h"

#include <cstddef>

namespace speech {

// GET /health: 200 with the models and free decoders once ready, else 503 with the state, so
// that a balancer polling it sends requests elsewhere; the requests in progress either way.
void answerHealth(
    http::Response &res, Readiness readiness, size_t requestsInProgress, const DecoderPools &pools);

} // namespace speech
