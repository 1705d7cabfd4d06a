#include "service/api/live_route.h"

#include "protocol/speechprotocol.h"
#include "service/api/json_shape.h"
#include "service/api/live_members.h"
#include "service/api/recognition_request.h"
#include "service/api/transcript_reply.h"

#include <json/json.h>

#include <chrono>

namespace speech {

namespace {

namespace live = speechprotocol::live;
namespace reply = speechprotocol::reply;

const char *kJson = "application/json; charset=utf-8";

int errNoOf(LiveSessions::Status status)
{
    switch (status) {
    case LiveSessions::Status::Ok:
        return err::kSuccess;
    case LiveSessions::Status::Full:
    case LiveSessions::Status::Busy:
        return err::kBusy;
    case LiveSessions::Status::TooLong:
        return err::kTooLong;
    case LiveSessions::Status::NotLive:
    case LiveSessions::Status::Failed:
        return err::kRecognitionFailed;
    default:
        return err::kBadRequest;
    }
}

Json::Value endedUtterance(const Recognizer::Timed &timed, size_t samples)
{
    std::vector<DecoderPool::Utterance> utterances;
    if (!timed.text.empty()) {
        DecoderPool::Utterance u;
        u.begin = timed.words.empty() ? 0 : timed.words.front().begin;
        u.end = timed.words.empty() ? samples : timed.words.back().end;
        u.text = timed.text;
        u.words = timed.words;
        utterances.push_back(std::move(u));
    }
    return utterancesJson(utterances);
}

} // namespace

void answerLivePiece(const std::string &requestBody, http::Response &res,
    const TokenProtocol &protocol, LiveSessions &sessions)
{
    RequestContext context = requestContextOf(protocol);
    context.minSamples = 0;

    Json::Value body;
    body[reply::kSn] = randomHex(12);
    res.setStatus(200);
    CheckedRequest checked = checkRecognitionRequest(requestBody, context);
    const LiveMembers members = checked.ok() ? readLiveMembers(requestBody) : LiveMembers();
    if (checked.ok() && !members.problem.empty()) {
        checked.errNo = err::kBadRequest;
        checked.errMsg = members.problem;
    }
    res.note().audioSeconds = checked.audioSeconds;
    if (answeredRefusal(checked, body, res))
        return;
    const std::vector<int16_t> &samples = checked.audio.samples;
    const auto started = std::chrono::steady_clock::now();
    const size_t total = members.offset + samples.size();
    const LiveSessions::Result result
        = sessions.append(members.session, checked.clientId, protocol.pools->at(checked.devPid),
            members.offset, samples.data(), samples.size(), members.end);
    const long long decodeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started)
                                   .count();
    const int errNo = errNoOf(result.status);
    body[reply::kErrNo] = errNo;
    body[reply::kErrMsg] = errNo == err::kSuccess ? reply::kSuccessMessage : result.message;
    if (!result.session.empty())
        body[live::kSession] = result.session;
    if (errNo == err::kSuccess) {
        body[reply::kResult] = Json::Value(Json::arrayValue);
        if (!result.timed.text.empty())
            body[reply::kResult].append(result.timed.text);
        if (result.ended)
            body[reply::kUtterances] = endedUtterance(result.timed, total);
        body[reply::kDecodeMs] = Json::Int64(decodeMs);
        res.note().decodeMs = decodeMs;
    }
    res.note().errNo = errNo;
    res.setContent(toJson(body), kJson);
}

} // namespace speech
