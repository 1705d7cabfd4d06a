// The token protocol's recognition request: the JSON body, its Base64 speech and the audio in
// it. "@TOKEN@" in the input stands for a valid access token, so that the fuzzer gets past the
// signature and on to the rest of the body.
#include "service/api/recognition_request.h"
#include "fuzzcheck.h"
#include "fuzzrequest.h"
#include "service/api/base64.h"
#include "service/api/json_shape.h"
#include "service/api/utf8_text.h"

#include <json/json.h>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const speech::RequestContext context = fuzzrequest::context();
    const std::string body = fuzzrequest::body(data, size);
    const speech::CheckedRequest r = speech::checkRecognitionRequest(body, context);
    if (!r.ok()) {
        // A refusal says why and carries no audio.
        FUZZ_CHECK(!r.errMsg.empty());
        FUZZ_CHECK(r.audio.samples.empty());
        return 0;
    }
    FUZZ_CHECK(r.audio.ok);
    FUZZ_CHECK(r.devPid == speechprotocol::kEnglishDevPid);
    FUZZ_CHECK(r.audio.samples.size() >= speech::kMinSamples);
    FUZZ_CHECK(r.audio.samples.size() <= speech::kMaxSamples);

    // What was taken, written again as a plain request, is taken the same.
    std::string pcm;
    for (int16_t s : r.audio.samples) {
        pcm.push_back(char(uint16_t(s) & 0xff));
        pcm.push_back(char(uint16_t(s) >> 8));
    }
    Json::Value again;
    again[speechprotocol::request::kFormat] = "pcm";
    again[speechprotocol::request::kRate] = 16000;
    again[speechprotocol::request::kChannel] = 1;
    again[speechprotocol::request::kCuid] = r.cuid;
    again[speechprotocol::request::kToken] = fuzzrequest::token();
    again[speechprotocol::request::kDevPid] = r.devPid;
    again[speechprotocol::request::kLen] = Json::Int64(pcm.size());
    again[speechprotocol::request::kSpeech] = speech::base64Encode(pcm);
    // Written as the service writes JSON, which mends bytes that are not UTF-8.
    const speech::CheckedRequest r2
        = speech::checkRecognitionRequest(speech::toJson(again), context);
    FUZZ_CHECK(r2.ok());
    FUZZ_CHECK(r2.audio.samples == r.audio.samples);
    FUZZ_CHECK(r2.cuid == speech::toValidUtf8(r.cuid));
    return 0;
}
