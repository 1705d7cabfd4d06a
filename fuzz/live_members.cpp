// The live route's own members (session, offset, end) of a recognition request, read as the
// route reads them once the request passed the recognition checks. "@TOKEN@" in the input
// stands for a valid access token, as in the recognition request's target.
#include "service/api/live_members.h"
#include "fuzzcheck.h"
#include "fuzzrequest.h"
#include "protocol/speechprotocol.h"
#include "service/api/json_shape.h"
#include "service/api/recognition_request.h"
#include "service/api/utf8_text.h"

#include <json/json.h>

#include <cstdint>

namespace live = speechprotocol::live;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string body = fuzzrequest::body(data, size);

    const speech::LiveMembers m = speech::readLiveMembers(body);
    if (!m.problem.empty()) {
        // A refusal fills nothing in.
        FUZZ_CHECK(m.session.empty() && m.offset == 0 && !m.end);
    } else {
        // Written again, the members read back the same.
        Json::Value again(Json::objectValue);
        again[live::kSession] = m.session;
        again[live::kOffset] = Json::UInt64(m.offset);
        again[live::kEnd] = m.end ? 1 : 0;
        const speech::LiveMembers m2 = speech::readLiveMembers(speech::toJson(again));
        FUZZ_CHECK(m2.problem.empty());
        FUZZ_CHECK(m2.offset == m.offset && m2.end == m.end);
        FUZZ_CHECK(m2.session == m.session || m2.session == speech::toValidUtf8(m.session));
    }

    // A body the recognition checks take (as the route calls them: any length of audio) is
    // one the live members can be read from.
    speech::RequestContext context = fuzzrequest::context();
    context.minSamples = 0;
    if (speech::checkRecognitionRequest(body, context).ok())
        FUZZ_CHECK(m.problem.find("JSON object") == std::string::npos);
    return 0;
}
