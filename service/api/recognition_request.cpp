#include "service/api/recognition_request.h"

#include "service/api/base64.h"
#include "service/api/json_shape.h"

#include <json/json.h>

#include <cstdio>
#include <memory>

namespace speech {

namespace {

namespace request = speechprotocol::request;
namespace reply = speechprotocol::reply;

CheckedRequest refuse(int errNo, std::string message)
{
    CheckedRequest r;
    r.errNo = errNo;
    r.errMsg = std::move(message);
    return r;
}

enum class Kind { String, Integer };

const char *kindName(Kind kind)
{
    return kind == Kind::String ? "a string" : "an integer";
}

bool hasKind(const Json::Value &v, Kind kind)
{
    // isInt64 also takes a real with an integral value in range, which some
    // JSON writers produce for whole numbers.
    return kind == Kind::String ? v.isString() : (v.isInt64() && !v.isBool());
}

std::string formatSeconds(size_t samples)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", double(samples) / kSampleRate);
    return buf;
}

} // namespace

std::string languageName(int devPid)
{
    switch (devPid) {
    case 1537:
        return "Mandarin, near field";
    case 1936:
        return "Mandarin, far field";
    case 1737:
        return "English";
    case 1637:
        return "Cantonese";
    case 1837:
        return "Sichuanese";
    default:
        return {};
    }
}

namespace {

// The body as one flat JSON object; false with the refusal in `refused`.
bool parseBody(std::string_view body, Json::Value &parsed, CheckedRequest &refused)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["rejectDupKeys"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string parseErrors;
    if (body.empty()) {
        refused = refuse(err::kBadRequest, "request body is empty");
        return false;
    }
    // A document of many small values costs far more memory and time than
    // its text: refuse what cannot be a request before the parser builds it.
    const std::string shapeProblem = flatObjectProblem(body, kMaxRequestMembers);
    if (!shapeProblem.empty()) {
        refused = refuse(err::kBadRequest, shapeProblem);
        return false;
    }
    bool ok = false;
    try {
        ok = reader->parse(body.data(), body.data() + body.size(), &parsed, &parseErrors);
    } catch (const std::exception &) {
        // The reader throws instead of failing on too deep nesting.
    }
    if (!ok)
        refused = refuse(err::kBadRequest, "request body is not valid JSON");
    else if (!parsed.isObject())
        refused = refuse(err::kBadRequest, "request body is not a JSON object");
    return ok && parsed.isObject();
}

// The members' presence and types; an empty text when they are right.
std::string memberProblem(const Json::Value &root)
{
    struct Member
    {
        const char *name;
        Kind kind;
        bool required;
    };
    static const Member members[] = {
        { request::kFormat, Kind::String, true },
        { request::kRate, Kind::Integer, true },
        { request::kChannel, Kind::Integer, true },
        { request::kCuid, Kind::String, true },
        { request::kLen, Kind::Integer, true },
        { request::kSpeech, Kind::String, true },
        { request::kDevPid, Kind::Integer, false },
        { request::kToken, Kind::String, false },
    };
    for (const Member &m : members) {
        const Json::Value &v = root[m.name];
        if (v.isNull()) {
            if (m.required)
                return std::string("member \"") + m.name + "\" is missing";
            continue;
        }
        if (!hasKind(v, m.kind))
            return std::string("member \"") + m.name + "\" must be " + kindName(m.kind);
    }
    if (root[request::kRate].asInt64() != kSampleRate)
        return "\"rate\" must be 16000";
    if (root[request::kChannel].asInt64() != speechprotocol::kChannels)
        return "\"channel\" must be 1";
    return {};
}

// Why the token is refused; an empty text when it is good.
std::string tokenProblem(const std::string &token, const RequestContext &context)
{
    if (token.empty())
        return "token is missing";
    if (!context.signer)
        return "token cannot be checked";
    // A client no longer listed has no binding; its token is checked without
    // one only to tell a forged token from a revoked one.
    const auto client = context.clients.find(TokenSigner::clientNamed(token));
    const bool listed = client != context.clients.end();
    const TokenSigner::Checked checked = context.signer->verify(
        token, TokenSigner::Kind::Access, context.now, listed ? client->second : std::string());
    switch (checked.verdict) {
    case TokenSigner::Verdict::Valid:
        break;
    case TokenSigner::Verdict::Expired:
        return "token has expired";
    case TokenSigner::Verdict::WrongKind:
        return "token is not an access token";
    case TokenSigner::Verdict::TooFarAhead:
        return "token expires later than this service's tokens ever do";
    default:
        return "token is not valid";
    }
    if (!listed)
        return "token was issued to a client this service does not accept";
    return {};
}

std::string missingModelMessage(int64_t devPid)
{
    std::string msg = "no model installed for dev_pid " + std::to_string(devPid);
    const std::string language = languageName(int(devPid));
    if (!language.empty())
        msg += " (" + language + ")";
    return msg + "; name one with --model " + std::to_string(devPid) + "=HMM_DIR,LM,DICT";
}

} // namespace

CheckedRequest checkRecognitionRequest(std::string_view body, const RequestContext &context)
{
    Json::Value parsed;
    CheckedRequest refused;
    if (!parseBody(body, parsed, refused))
        return refused;
    // Read through a const reference: the non-const [] would add members.
    const Json::Value &root = parsed;
    const std::string members = memberProblem(root);
    if (!members.empty())
        return refuse(err::kBadRequest, members);
    const std::string token = tokenProblem(root[request::kToken].asString(), context);
    if (!token.empty())
        return refuse(err::kAuthFailed, token);

    const int64_t devPid = root.isMember(request::kDevPid) ? root[request::kDevPid].asInt64()
                                                           : int64_t(context.defaultDevPid);
    if (devPid < INT32_MIN || devPid > INT32_MAX || context.installedModels.count(int(devPid)) == 0)
        return refuse(err::kBadRequest, missingModelMessage(devPid));

    std::optional<std::string> bytes = base64Decode(root[request::kSpeech].asString());
    if (!bytes)
        return refuse(err::kBadRequest, "\"speech\" is not valid Base64");
    const int64_t len = root[request::kLen].asInt64();
    if (len < 0 || static_cast<uint64_t>(len) != bytes->size())
        return refuse(err::kBadRequest,
            "\"len\" is " + std::to_string(len) + " but the speech holds "
                + std::to_string(bytes->size()) + " bytes");

    CheckedRequest r;
    r.audio = readAudio(*bytes);
    if (!r.audio.ok)
        return refuse(err::kBadAudio, r.audio.error);
    const size_t samples = r.audio.samples.size();
    if (samples > kMaxSamples || samples < context.minSamples) {
        CheckedRequest refused = refuse(samples > kMaxSamples ? err::kTooLong : err::kTooShort,
            "audio lasts " + formatSeconds(samples) + " s, "
                + (samples > kMaxSamples ? "at most 60 s are taken" : "at least 0.1 s is needed"));
        refused.audioSeconds = r.audio.seconds();
        return refused;
    }

    r.devPid = int(devPid);
    r.cuid = root[request::kCuid].asString();
    r.clientId = std::string(TokenSigner::clientNamed(root[request::kToken].asString()));
    r.errMsg = reply::kSuccessMessage;
    r.audioSeconds = r.audio.seconds();
    return r;
}

} // namespace speech
