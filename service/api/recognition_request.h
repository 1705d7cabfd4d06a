#pragma once

#include "service/auth/token.h"
#include "service/recognition/audio_input.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace speech {

// Reply codes of the recognition endpoint.
namespace err = speechprotocol::err;

constexpr size_t kMaxSamples = speechprotocol::kMaxAudioSeconds * kSampleRate;
constexpr size_t kMinSamples = kSampleRate * speechprotocol::kMinAudioMilliseconds / 1000;
// Eight members are known; a few more are tolerated and ignored.
constexpr size_t kMaxRequestMembers = 32;

// What a recognition request is checked against.
struct RequestContext
{
    const TokenSigner *signer = nullptr;
    // The clients whose tokens are accepted, each with the binding its tokens
    // are signed with (the digest of its secret).
    std::map<std::string, std::string> clients;
    std::set<int> installedModels; // dev_pid values with a loaded model
    int defaultDevPid = speechprotocol::kEnglishDevPid; // taken when the body names none
    int64_t now = 0; // seconds since the epoch
    size_t minSamples = kMinSamples; // a live piece may be shorter
};

struct CheckedRequest
{
    int errNo = err::kSuccess;
    std::string errMsg;
    int devPid = 0;
    std::string cuid;
    std::string clientId; // whom the token was issued to
    AudioInput audio;
    double audioSeconds = -1; // once the audio could be read, also when refused for its length

    bool ok() const { return errNo == err::kSuccess; }
};

// The language a dev_pid number stands for, or an empty text.
std::string languageName(int devPid);

// Checks a recognition request body and, when it passes, decodes its audio.
CheckedRequest checkRecognitionRequest(std::string_view body, const RequestContext &context);

} // namespace speech
