#pragma once

#include "service/api/recognition_request.h"
#include "service/auth/clients_file.h"
#include "service/auth/token.h"
#include "service/http/http_server.h"
#include "service/recognition/decoder_pool.h"

#include <json/json.h>

#include <map>
#include <memory>
#include <string>

namespace speech {

using DecoderPools = std::map<int, std::shared_ptr<DecoderPool>>;

// The token protocol: a token for a client's credentials, and recognitions with it.
struct TokenProtocol
{
    const TokenSigner *signer = nullptr;
    const ClientRegistry *clients = nullptr;
    const DecoderPools *pools = nullptr; // read only once the service is ready
    int defaultDevPid = 0;
};

// GET or POST /oauth/2.0/token with grant_type, client_id and client_secret.
void answerToken(const http::Request &req, http::Response &res, const TokenProtocol &protocol);

// POST /server_api with the recognition request's JSON; refusals are replies with an err_no.
void answerRecognition(
    const std::string &requestBody, http::Response &res, const TokenProtocol &protocol);

// The reply to a recognition while the service is not ready: 503, so that a balancer tries
// another instance at once, with the protocol's "busy".
void refuseRecognition(http::Response &res, const char *message);

int64_t unixNow();

// What a recognition request is checked against now: the tokens, clients and installed models.
RequestContext requestContextOf(const TokenProtocol &protocol);

// A request the checks refused is answered with its err_no and message in body (status 200, as
// every refusal of the protocol); true when it was, false when the request goes on.
bool answeredRefusal(const CheckedRequest &checked, Json::Value &body, http::Response &res);

} // namespace speech
