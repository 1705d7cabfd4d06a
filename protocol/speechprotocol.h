#pragma once

// The token and recognition protocol spoken between the desktop program and
// the speech service: the numbers and names both sides must agree on. Plain
// C++17 without Qt, so that the client and the service include the same file.

namespace speechprotocol {

constexpr int kDefaultPort = 18765;

// Endpoints.
namespace path {
constexpr const char *kToken = "/oauth/2.0/token"; // GET, or POST with a form
constexpr const char *kRecognition = "/server_api"; // POST with a JSON body
constexpr const char *kHealth = "/health"; // GET, for balancers and start scripts
// POST with a recognition request's JSON that carries one piece of an utterance being said,
// and the members of `live` below; a service without it answers 404.
constexpr const char *kLive = "/server_api/live";
} // namespace path

// "err_no" of a recognition reply. The service answers 0, 3300, 3302, 3304,
// 3307, 3308, 3309 and 3314; clients also know the others.
namespace err {
constexpr int kSuccess = 0;
constexpr int kBadRequest
    = 3300; // not JSON, members missing or mistyped, bad Base64, wrong len, no model
constexpr int kEmptyResult = 3301;
constexpr int kAuthFailed = 3302; // token missing, forged, expired or for another client
constexpr int kBackendBusyOrPoorAudio = 3303;
constexpr int kBusy = 3304; // no decoder in time, or not serving now: ask again shortly
constexpr int kRecognitionFailed = 3307; // the recogniser itself failed
constexpr int kTooLong = 3308; // more than kMaxAudioSeconds of audio
constexpr int kBadAudio = 3309; // a WAV header that is not 16 kHz mono 16-bit PCM, or lies
constexpr int kParseTimeout = 3313;
constexpr int kTooShort = 3314; // less than kMinAudioMilliseconds of audio
constexpr int kProcessTimeout = 3315;
constexpr int kPcmConversionFailed = 3316;
} // namespace err

// What a recognition request's audio must be.
constexpr int kSampleRate = 16000;
constexpr int kChannels = 1;
constexpr int kMaxAudioSeconds = 60;
constexpr int kMinAudioMilliseconds = 100;
constexpr int kBytesPerSample = 2; // 16-bit PCM
constexpr const char *kWavFormat = "wav"; // the "format" of a request

// "dev_pid": the language of a recognition request.
constexpr int kMandarinDevPid = 1537;
constexpr int kMandarinFarFieldDevPid = 1936;
constexpr int kEnglishDevPid = 1737; // the model a request without "dev_pid" gets by default
constexpr int kCantoneseDevPid = 1637;
constexpr int kSichuaneseDevPid = 1837;

// The token request's parameters (query or form) and its reply.
namespace token {
constexpr const char *kGrantType = "grant_type";
constexpr const char *kClientCredentials = "client_credentials"; // the only grant type
constexpr const char *kClientId = "client_id";
constexpr const char *kClientSecret = "client_secret";
// The pair every service accepts until its owner configures clients of its own.
constexpr const char *kBuiltInClientId = "Rk3nVq8ZtLm2Hs7PxWc4JdYb";
constexpr const char *kBuiltInClientSecret = "Gf5tQw2LzN8kRm4VxHp7Cs9JdT3bYe6W";

constexpr const char *kAccessToken = "access_token";
constexpr const char *kSessionKey = "session_key";
constexpr const char *kRefreshToken = "refresh_token";
constexpr const char *kSessionSecret = "session_secret";
constexpr const char *kExpiresIn = "expires_in"; // seconds
constexpr const char *kScope = "scope";
} // namespace token

// Members of an HTTP-level refusal, on every path: {"error": ..., "error_description": ...}.
constexpr const char *kError = "error";
constexpr const char *kErrorDescription = "error_description";

// The recognition request's members.
namespace request {
constexpr const char *kFormat = "format";
constexpr const char *kRate = "rate";
constexpr const char *kChannel = "channel";
constexpr const char *kCuid = "cuid";
constexpr const char *kLen = "len"; // bytes of the decoded speech
constexpr const char *kSpeech = "speech"; // Base64
constexpr const char *kDevPid = "dev_pid";
constexpr const char *kToken = "token";
} // namespace request

// The live request's members beside the recognition request's; the reply carries the session.
namespace live {
constexpr const char *kSession = "live_session"; // string; absent or empty: a new session
constexpr const char *kOffset = "live_offset"; // samples of the utterance sent before; 0 begins one
constexpr const char *kEnd = "live_end"; // 1: the utterance ends with this piece
} // namespace live

// The recognition reply's members.
namespace reply {
constexpr const char *kErrNo = "err_no";
constexpr const char *kErrMsg = "err_msg";
constexpr const char *kSuccessMessage = "success."; // err_msg with err_no 0
constexpr const char *kResult = "result"; // ["text"] or []
constexpr const char *kSn = "sn";
constexpr const char *kDecodeMs = "decode_ms";
// [{"start", "end", "text", "words": [{"word", "start", "end"}]}], seconds
// from the start of the segment; clients that do not know it ignore it.
constexpr const char *kUtterances = "utterances";
constexpr const char *kStart = "start";
constexpr const char *kEnd = "end";
constexpr const char *kText = "text";
constexpr const char *kWords = "words";
constexpr const char *kWord = "word";
} // namespace reply

} // namespace speechprotocol
