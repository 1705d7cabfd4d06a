#include "recognition_request.h"

#include "base64.h"
#include "json_shape.h"

#include <json/json.h>

#include <cstdio>
#include <memory>

namespace speech {

namespace {

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

CheckedRequest checkRecognitionRequest(std::string_view body, const RequestContext &context)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["rejectDupKeys"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    std::string parseErrors;
    if (body.empty())
        return refuse(err::kBadRequest, "request body is empty");
    // A document of many small values costs far more memory and time than
    // its text: refuse what cannot be a request before the parser builds it.
    const std::string shapeProblem = flatObjectProblem(body, kMaxRequestMembers);
    if (!shapeProblem.empty())
        return refuse(err::kBadRequest, shapeProblem);
    try {
        if (!reader->parse(body.data(), body.data() + body.size(), &parsed, &parseErrors))
            return refuse(err::kBadRequest, "request body is not valid JSON");
    } catch (const std::exception &) {
        // The reader throws instead of failing on too deep nesting.
        return refuse(err::kBadRequest, "request body is not valid JSON");
    }
    // Read through a const reference: the non-const [] would add members.
    const Json::Value &root = parsed;
    if (!root.isObject())
        return refuse(err::kBadRequest, "request body is not a JSON object");

    struct Member
    {
        const char *name;
        Kind kind;
        bool required;
    };
    static const Member members[] = {
        { "format", Kind::String, true },
        { "rate", Kind::Integer, true },
        { "channel", Kind::Integer, true },
        { "cuid", Kind::String, true },
        { "len", Kind::Integer, true },
        { "speech", Kind::String, true },
        { "dev_pid", Kind::Integer, false },
        { "token", Kind::String, false },
    };
    for (const Member &m : members) {
        const Json::Value &v = root[m.name];
        if (v.isNull()) {
            if (m.required)
                return refuse(
                    err::kBadRequest, std::string("member \"") + m.name + "\" is missing");
            continue;
        }
        if (!hasKind(v, m.kind))
            return refuse(err::kBadRequest,
                std::string("member \"") + m.name + "\" must be " + kindName(m.kind));
    }

    if (root["rate"].asInt64() != kSampleRate)
        return refuse(err::kBadRequest, "\"rate\" must be 16000");
    if (root["channel"].asInt64() != 1)
        return refuse(err::kBadRequest, "\"channel\" must be 1");

    const std::string token = root["token"].asString();
    if (token.empty())
        return refuse(err::kAuthFailed, "token is missing");
    if (!context.signer)
        return refuse(err::kAuthFailed, "token cannot be checked");
    const TokenSigner::Checked checked
        = context.signer->verify(token, TokenSigner::Kind::Access, context.now);
    switch (checked.verdict) {
    case TokenSigner::Verdict::Valid:
        break;
    case TokenSigner::Verdict::Expired:
        return refuse(err::kAuthFailed, "token has expired");
    case TokenSigner::Verdict::WrongKind:
        return refuse(err::kAuthFailed, "token is not an access token");
    case TokenSigner::Verdict::TooFarAhead:
        return refuse(err::kAuthFailed, "token expires later than this service's tokens ever do");
    default:
        return refuse(err::kAuthFailed, "token is not valid");
    }
    if (context.clients.count(checked.clientId) == 0)
        return refuse(
            err::kAuthFailed, "token was issued to a client this service does not accept");

    const int64_t devPid
        = root.isMember("dev_pid") ? root["dev_pid"].asInt64() : int64_t(context.defaultDevPid);
    if (devPid < INT32_MIN || devPid > INT32_MAX
        || context.installedModels.count(int(devPid)) == 0) {
        std::string msg = "no model installed for dev_pid " + std::to_string(devPid);
        const std::string language = languageName(int(devPid));
        if (!language.empty())
            msg += " (" + language + ")";
        msg += "; name one with --model " + std::to_string(devPid) + "=HMM_DIR,LM,DICT";
        return refuse(err::kBadRequest, msg);
    }

    std::optional<std::string> bytes = base64Decode(root["speech"].asString());
    if (!bytes)
        return refuse(err::kBadRequest, "\"speech\" is not valid Base64");
    const int64_t len = root["len"].asInt64();
    if (len < 0 || static_cast<uint64_t>(len) != bytes->size())
        return refuse(err::kBadRequest,
            "\"len\" is " + std::to_string(len) + " but the speech holds "
                + std::to_string(bytes->size()) + " bytes");

    CheckedRequest r;
    r.audio = readAudio(*bytes);
    if (!r.audio.ok)
        return refuse(err::kBadAudio, r.audio.error);
    const size_t samples = r.audio.samples.size();
    if (samples > kMaxSamples || samples < kMinSamples) {
        CheckedRequest refused = refuse(samples > kMaxSamples ? err::kTooLong : err::kTooShort,
            "audio lasts " + formatSeconds(samples) + " s, "
                + (samples > kMaxSamples ? "at most 60 s are taken" : "at least 0.1 s is needed"));
        refused.audioSeconds = r.audio.seconds();
        return refused;
    }

    r.devPid = int(devPid);
    r.cuid = root["cuid"].asString();
    r.errMsg = "success.";
    r.audioSeconds = r.audio.seconds();
    return r;
}

} // namespace speech
