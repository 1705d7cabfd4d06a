// A resume state left by an earlier run, perhaps cut off or edited.
#include "asr/resumestate.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    ResumeState state;
    state.segmentCount = -7; // to tell a state left alone from one filled in
    const ResumeRules::ParseResult result = ResumeRules::parse(bytes, &state);
    const QString source = ResumeRules::sourceOf(bytes);
    if (result != ResumeRules::ParseResult::Ok) {
        // Nothing half read.
        FUZZ_CHECK(state.segmentCount == -7 && state.segments.isEmpty());
        FUZZ_CHECK(state.identity.sourcePath.isEmpty());
        return 0;
    }
    FUZZ_CHECK(state.segmentCount > 0 && state.segments.size() <= state.segmentCount);
    FUZZ_CHECK(source == state.identity.sourcePath);
    // Written again, it reads back the same.
    ResumeState again;
    FUZZ_CHECK(
        ResumeRules::parse(ResumeRules::serialize(state), &again) == ResumeRules::ParseResult::Ok);
    FUZZ_CHECK(again.identity == state.identity);
    FUZZ_CHECK(again.segmentCount == state.segmentCount);
    FUZZ_CHECK(again.segments == state.segments);
    ResumeRules::canResume(state, state.identity);
    return 0;
}
