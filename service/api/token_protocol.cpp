#include "service/api/token_protocol.h"

#include "protocol/speechprotocol.h"
#include "service/api/errors.h"
#include "service/api/json_shape.h"
#include "service/api/recognition_request.h"
#include "service/api/transcript_reply.h"

#include <json/json.h>

#include <chrono>

namespace speech {

namespace {

namespace tok = speechprotocol::token;
namespace reply = speechprotocol::reply;

const char *kJson = "application/json; charset=utf-8";

} // namespace

int64_t unixNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void answerToken(const http::Request &req, http::Response &res, const TokenProtocol &protocol)
{
    const std::string grantType = req.param(tok::kGrantType);
    const std::string clientId = req.param(tok::kClientId);
    const std::string clientSecret = req.param(tok::kClientSecret);
    if (grantType != tok::kClientCredentials) {
        answerTokenError(
            res, 400, "unsupported_grant_type", "grant_type must be client_credentials");
        return;
    }
    if (!protocol.clients->accepts(clientId, clientSecret)) {
        answerTokenError(res, 401, "invalid_client", "unknown client id or wrong client secret");
        return;
    }

    const int64_t now = unixNow();
    Json::Value body;
    // Bound to the secret, so that changing it revokes what was issued under it.
    const std::string binding = protocol.clients->bindingOf(clientId);
    body[tok::kAccessToken] = protocol.signer->sign(
        TokenSigner::Kind::Access, clientId, now + kTokenLifetimeSeconds, binding);
    body[tok::kSessionKey] = randomHex(16);
    body[tok::kRefreshToken] = protocol.signer->sign(
        TokenSigner::Kind::Refresh, clientId, now + kRefreshTokenLifetimeSeconds, binding);
    body[tok::kSessionSecret] = randomHex(16);
    body[tok::kExpiresIn] = Json::Int64(kTokenLifetimeSeconds);
    body[tok::kScope] = "speech_recognition";
    res.setStatus(200);
    res.setContent(toJson(body), kJson);
}
RequestContext requestContextOf(const TokenProtocol &protocol)
{
    RequestContext context;
    context.signer = protocol.signer;
    context.clients = protocol.clients->bindings();
    for (const auto &entry : *protocol.pools)
        context.installedModels.insert(entry.first);
    context.defaultDevPid = protocol.defaultDevPid;
    context.now = unixNow();
    return context;
}

bool answeredRefusal(const CheckedRequest &checked, Json::Value &body, http::Response &res)
{
    if (checked.ok())
        return false;
    body[reply::kErrNo] = checked.errNo;
    body[reply::kErrMsg] = checked.errMsg;
    res.note().errNo = checked.errNo;
    res.setContent(toJson(body), kJson);
    return true;
}

void answerRecognition(
    const std::string &requestBody, http::Response &res, const TokenProtocol &protocol)
{
    RequestContext context = requestContextOf(protocol);

    Json::Value body;
    body[reply::kSn] = randomHex(12);
    // Refusals are replies, not transport failures: status 200 with err_no.
    res.setStatus(200);

    CheckedRequest checked = checkRecognitionRequest(requestBody, context);
    res.note().audioSeconds = checked.audioSeconds;
    if (answeredRefusal(checked, body, res))
        return;

    DecoderPool &pool = *protocol.pools->at(checked.devPid);
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
        res.note().errNo = err::kSuccess;
        res.note().decodeMs = outcome.decodeMs;
    } catch (const DecoderPool::Busy &busy) {
        // The desktop answers this with a short back-off and the same segment.
        body[reply::kErrNo] = err::kBusy;
        body[reply::kErrMsg]
            = std::string("the service is busy: ") + busy.what() + "; send the request again";
        res.note().errNo = err::kBusy;
    } catch (const std::exception &e) {
        body[reply::kErrNo] = err::kRecognitionFailed;
        body[reply::kErrMsg] = std::string("recognition failed: ") + e.what();
        res.note().errNo = err::kRecognitionFailed;
    }
    res.setContent(toJson(body), kJson);
}

void refuseRecognition(http::Response &res, const char *message)
{
    Json::Value body;
    body[reply::kSn] = randomHex(12);
    body[reply::kErrNo] = err::kBusy;
    body[reply::kErrMsg] = message;
    res.note().errNo = err::kBusy;
    res.setStatus(503);
    res.setHeader("Retry-After", "1");
    res.setContent(toJson(body), kJson);
}

} // namespace speech
