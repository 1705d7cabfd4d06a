#pragma once

#include "service/api/base64.h"
#include "service/auth/token.h"
#include "service/recognition/audio_input.h"

#include <json/json.h>

#include <cmath>
#include <string>
#include <vector>

// Request bodies and audio made up for the service tests.
namespace testaudio {

// A tone: loud enough to count as sound, nothing a recogniser takes for words.
inline std::vector<int16_t> tone(double seconds, double hz = 440.0, double amplitude = 8000.0)
{
    std::vector<int16_t> s(static_cast<size_t>(seconds * speech::kSampleRate));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(
            amplitude * std::sin(2 * M_PI * hz * double(i) / speech::kSampleRate));
    return s;
}

inline std::vector<int16_t> silence(double seconds)
{
    return std::vector<int16_t>(static_cast<size_t>(seconds * speech::kSampleRate), 0);
}

inline std::string rawBytes(const std::vector<int16_t> &samples)
{
    std::string out;
    for (int16_t s : samples) {
        out.push_back(static_cast<char>(s & 0xff));
        out.push_back(static_cast<char>((s >> 8) & 0xff));
    }
    return out;
}

// The members the desktop program sends, for the given audio bytes.
inline Json::Value body(const std::string &audio, const std::string &token, int devPid = 1737)
{
    Json::Value v;
    v["channel"] = 1;
    v["cuid"] = "00-1c-42-aa-bb-cc";
    v["dev_pid"] = devPid;
    v["format"] = "wav";
    v["len"] = Json::UInt64(audio.size());
    v["rate"] = 16000;
    v["speech"] = speech::base64Encode(audio);
    v["token"] = token;
    return v;
}

inline std::string text(const Json::Value &v)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "   ";
    return Json::writeString(builder, v);
}

struct BadRequest
{
    std::string name;
    std::string body;
    int errNo;
    std::string messagePart; // a piece of the expected err_msg
};

inline std::string le32(uint32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    return s;
}

// Recognition bodies that must be refused, each with its reply code: broken
// JSON, members missing or mistyped, bad tokens, missing models, bad Base64,
// lying sizes, WAV formats other than 16 kHz mono 16-bit, audio too short or
// too long. `token` is valid for `client` at `now` under `signer`'s key.
inline std::vector<BadRequest> badRequests(const speech::TokenSigner &signer,
    const std::string &client, const std::string &token, int64_t now)
{
    using speech::makeWav;
    using speech::TokenSigner;
    std::vector<BadRequest> list;
    const std::string wav = makeWav(tone(1.0));
    const Json::Value good = body(wav, token);
    auto add = [&](const char *name, const std::string &b, int errNo, const char *part) {
        list.push_back({ name, b, errNo, part });
    };
    auto with = [&](const char *member, const Json::Value &value) {
        Json::Value v = good;
        v[member] = value;
        return text(v);
    };
    auto without = [&](const char *member) {
        Json::Value v = good;
        v.removeMember(member);
        return text(v);
    };

    add("empty body", "", 3300, "empty");
    add("not JSON", "speech=abc", 3300, "JSON");
    add("JSON cut short", text(good).substr(0, 40), 3300, "JSON");
    add("JSON array", "[1, 2, 3]", 3300, "object");
    add("JSON with trailing junk", text(good) + "}", 3300, "JSON");
    add("deeply nested", std::string(5000, '[') + std::string(5000, ']'), 3300, "JSON");
    add("array of numbers", "{\"a\": [" + std::string(4000, '0') + "]}", 3300, "\"a\"");
    std::string manyMembers = "{";
    for (int i = 0; i < 40; ++i)
        manyMembers += "\"m" + std::to_string(i) + "\": 0,";
    add("too many members", manyMembers + "\"z\": 0}", 3300, "members");
    add("speech missing", without("speech"), 3300, "speech");
    add("len missing", without("len"), 3300, "len");
    add("format missing", without("format"), 3300, "format");
    add("cuid missing", without("cuid"), 3300, "cuid");
    add("rate as text", with("rate", "16000"), 3300, "rate");
    add("len as text", with("len", std::to_string(wav.size())), 3300, "len");
    add("len fractional", with("len", double(wav.size()) + 0.5), 3300, "len");
    add("channel as bool", with("channel", true), 3300, "channel");
    add("speech as number", with("speech", 12), 3300, "speech");
    add("dev_pid as text", with("dev_pid", "1737"), 3300, "dev_pid");
    add("token as number", with("token", 5), 3300, "token");
    add("cuid as object", with("cuid", Json::Value(Json::objectValue)), 3300, "cuid");
    add("rate 8000", with("rate", 8000), 3300, "rate");
    add("two channels", with("channel", 2), 3300, "channel");

    add("token missing", without("token"), 3302, "token");
    add("token empty", with("token", ""), 3302, "token");
    add("token for another client",
        with("token", signer.sign(TokenSigner::Kind::Access, "SomeoneElse", now + 100)), 3302,
        "client");
    add("token expired", with("token", signer.sign(TokenSigner::Kind::Access, client, now - 1)),
        3302, "expired");
    add("token expiring too far ahead",
        with("token",
            signer.sign(TokenSigner::Kind::Access, client,
                now + speech::kTokenLifetimeSeconds + 24 * 3600)),
        3302, "later");
    std::string altered = token;
    altered[altered.size() / 2] ^= 1;
    add("token altered", with("token", altered), 3302, "token");
    add("refresh token", with("token", signer.sign(TokenSigner::Kind::Refresh, client, now + 100)),
        3302, "token");

    add("Mandarin without a model", with("dev_pid", 1537), 3300, "1537 (Mandarin, near field)");
    add("Cantonese without a model", with("dev_pid", 1637), 3300, "Cantonese");
    add("unknown dev_pid", with("dev_pid", 4242), 3300, "4242");
    add("dev_pid beyond int", with("dev_pid", Json::Int64(1) << 40), 3300, "dev_pid");

    add("invalid Base64", with("speech", "UklGR*==" + speech::base64Encode(wav)), 3300, "Base64");
    add("len larger", with("len", Json::UInt64(wav.size() + 1)), 3300, "len");
    add("len smaller", with("len", Json::UInt64(wav.size() - 1)), 3300, "len");
    add("len negative", with("len", -1), 3300, "len");

    const std::string stereo = makeWav(tone(1.0), 16000, 2, 16);
    add("stereo WAV", text(body(stereo, token)), 3309, "channels");
    add("44.1 kHz WAV", text(body(makeWav(tone(1.0), 44100), token)), 3309, "44100");
    add("8-bit WAV", text(body(makeWav(tone(1.0), 16000, 1, 8), token)), 3309, "bits");
    std::string lying = wav;
    lying.replace(40, 4, le32(uint32_t(wav.size()) * 2));
    add("WAV lying about its size", text(body(lying, token)), 3309, "data bytes");

    add("no audio", text(body("", token)), 3314, "0.00 s");
    add("header only", text(body(makeWav({}), token)), 3314, "0.1 s");
    add("below 0.1 s", text(body(makeWav(tone(0.099)), token)), 3314, "0.1 s");
    add("61 s", text(body(makeWav(silence(61)), token)), 3308, "60 s");
    add("61 s raw", text(body(rawBytes(silence(61)), token)), 3308, "60 s");
    return list;
}

} // namespace testaudio
