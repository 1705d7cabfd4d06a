// What a speech service (the user's own or a team's) answers the program: a token reply, a
// recognition reply of the token protocol, and an upload's answer through the transcription API.
#include "asr/qthttpclass.h"
#include "asr/recognitionreply.h"
#include "asr/tokenreply.h"
#include "asr/transcriptionsapi.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

namespace {

void checkUtterances(const RecognitionReply &reply)
{
    // Times are read as seconds below 1e9: nothing negative, nothing that overflows later sums.
    for (const TimedUtterance &u : reply.utterances) {
        FUZZ_CHECK(u.startMs >= 0 && u.startMs <= 1000000000000LL);
        FUZZ_CHECK(u.endMs >= 0 && u.endMs <= 1000000000000LL);
        for (const TimedWord &w : u.words)
            FUZZ_CHECK(w.startMs >= 0 && w.endMs >= 0);
    }
}

// Only a reply that goes on carries text; one that ends the job says why.
void checkKind(const RecognitionReply &reply)
{
    if (reply.kind != RecognitionReply::Text)
        FUZZ_CHECK(!reply.hasText && reply.text.isEmpty() && reply.utterances.isEmpty());
    FUZZ_CHECK(reply.retryAfterSeconds >= 0 && reply.retryAfterSeconds <= 300);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int status = input.ConsumeIntegralInRange<int>(0, 599);
    const std::string retryAfter = input.ConsumeRandomLengthString(40);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray body(rest.data(), int(rest.size()));

    TokenReply token;
    token.expiresIn = -7;
    if (!parseTokenReply(body, &token))
        FUZZ_CHECK(token.expiresIn == -7 && token.accessToken.isEmpty());

    const RecognitionReply recognised = parseRecognitionReply(body);
    checkKind(recognised);
    checkUtterances(recognised);
    if (recognised.kind == RecognitionReply::Unrecognisable)
        FUZZ_CHECK(recognised.failure.kind == JobFailure::Kind::Unrecognisable);

    HttpReplyInfo info;
    info.status = status;
    info.body = body;
    info.retryAfter = QByteArray(retryAfter.data(), int(retryAfter.size()));
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    const RecognitionReply uploaded
        = TranscriptionsApi::parseReply(info, QStringLiteral("http://127.0.0.1:1"), now);
    checkKind(uploaded);
    checkUtterances(uploaded);
    if (status < 200 || status > 299)
        FUZZ_CHECK(uploaded.kind != RecognitionReply::Text);
    return 0;
}
