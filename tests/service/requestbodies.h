#pragma once

#include "audio_input.h"
#include "base64.h"

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
        s[i] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * double(i) / speech::kSampleRate));
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

} // namespace testaudio
