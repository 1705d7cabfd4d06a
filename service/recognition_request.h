#pragma once

#include "audio_input.h"
#include "token.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace speech {

// Reply codes of the recognition endpoint.
namespace err {
constexpr int kSuccess = 0;
constexpr int kBadRequest
    = 3300; // not JSON, members missing or mistyped, bad Base64, wrong len, no model
constexpr int kAuthFailed = 3302; // token missing, forged, expired or for another client
constexpr int kBusy = 3304; // no decoder in time, or not serving now: ask again shortly
constexpr int kRecognitionFailed = 3307; // the recogniser itself failed
constexpr int kTooLong = 3308; // more than 60 s of audio
constexpr int kBadAudio = 3309; // a WAV header that is not 16 kHz mono 16-bit PCM, or lies
constexpr int kTooShort = 3314; // less than 0.1 s of audio
} // namespace err

constexpr size_t kMaxSamples = 60 * kSampleRate;
constexpr size_t kMinSamples = kSampleRate / 10;
// Eight members are known; a few more are tolerated and ignored.
constexpr size_t kMaxRequestMembers = 32;

// What a recognition request is checked against.
struct RequestContext
{
    const TokenSigner *signer = nullptr;
    std::set<std::string> clients; // client ids whose tokens are accepted
    std::set<int> installedModels; // dev_pid values with a loaded model
    int defaultDevPid = 1737; // taken when the body names none
    int64_t now = 0; // seconds since the epoch
};

struct CheckedRequest
{
    int errNo = err::kSuccess;
    std::string errMsg;
    int devPid = 0;
    std::string cuid;
    AudioInput audio;
    double audioSeconds = -1; // once the audio could be read, also when refused for its length

    bool ok() const { return errNo == err::kSuccess; }
};

// The language a dev_pid number stands for, or an empty text.
std::string languageName(int devPid);

// Checks a recognition request body and, when it passes, decodes its audio.
CheckedRequest checkRecognitionRequest(std::string_view body, const RequestContext &context);

} // namespace speech
