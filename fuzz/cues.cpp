// The cue builder over random utterances: any text (UTF-8 or not), any times within a span no
// recording reaches (negative, reversed, overlapping, words outside their utterance).
#include "subtitles/cues.h"
#include "fuzzcheck.h"
#include "subtitles/textwidth.h"
#include "subtitles/writers.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::int64_t kSpanMs = std::int64_t(1) << 40;

std::int64_t anyTime(FuzzedDataProvider &in)
{
    return in.ConsumeIntegralInRange<std::int64_t>(-kSpanMs, kSpanMs);
}

void checkCues(
    const std::vector<subtitles::Cue> &cues, const subtitles::CueRules &rules, bool checkLines)
{
    std::int64_t previousEnd = 0;
    for (const subtitles::Cue &cue : cues) {
        // In time order, never overlapping, each on screen within the durations.
        FUZZ_CHECK(cue.startMs >= previousEnd);
        FUZZ_CHECK(cue.endMs - cue.startMs >= rules.minDurationMs);
        FUZZ_CHECK(cue.endMs - cue.startMs <= rules.maxDurationMs);
        previousEnd = cue.endMs;
        if (!checkLines)
            continue;
        FUZZ_CHECK(!cue.lines.empty() && cue.lines.size() <= rules.maxLines);
        for (const std::string &line : cue.lines)
            FUZZ_CHECK(subtitles::codePointCount(line) <= subtitles::lineLimit(line, rules));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    subtitles::CueRules rules;
    if (in.ConsumeBool()) {
        rules.maxLines = in.ConsumeIntegralInRange<std::size_t>(1, 4);
        rules.latinLineChars = in.ConsumeIntegralInRange<std::size_t>(1, 80);
        rules.cjkLineChars = in.ConsumeIntegralInRange<std::size_t>(1, 40);
        rules.minDurationMs = in.ConsumeIntegralInRange<std::int64_t>(0, 5000);
        rules.maxDurationMs = in.ConsumeIntegralInRange<std::int64_t>(rules.minDurationMs, 20000);
    }
    std::vector<subtitles::Utterance> utterances(in.ConsumeIntegralInRange<size_t>(0, 8));
    for (subtitles::Utterance &u : utterances) {
        u.startMs = anyTime(in);
        u.endMs = in.ConsumeBool() ? anyTime(in) : u.startMs + in.ConsumeIntegral<std::uint16_t>();
        u.text = in.ConsumeRandomLengthString(200);
        u.words.resize(in.ConsumeIntegralInRange<size_t>(0, 6));
        for (subtitles::Word &w : u.words) {
            w.startMs = anyTime(in);
            w.endMs = anyTime(in);
            w.text = in.ConsumeRandomLengthString(30);
        }
    }

    const std::vector<subtitles::Cue> cues = subtitles::layoutCues(utterances, rules);
    checkCues(cues, rules, true);
    // Every character said is shown once: overlapping utterances may interleave, so the cues
    // hold the utterances' bytes, blanks aside, in some order.
    std::string said, shown;
    for (const subtitles::Utterance &u : utterances) {
        for (const subtitles::TimedToken &t : subtitles::timedTokens(u, rules))
            said += t.text;
    }
    for (const subtitles::Cue &cue : cues) {
        for (const std::string &line : cue.lines)
            shown += line;
    }
    said.erase(std::remove(said.begin(), said.end(), ' '), said.end());
    shown.erase(std::remove(shown.begin(), shown.end(), ' '), shown.end());
    std::sort(said.begin(), said.end());
    std::sort(shown.begin(), shown.end());
    FUZZ_CHECK(shown == said);
    subtitles::writeSrt(cues);
    subtitles::writeVtt(cues);

    // Cues of any times come out settled.
    std::vector<subtitles::Cue> loose(in.ConsumeIntegralInRange<size_t>(0, 8));
    for (subtitles::Cue &cue : loose) {
        cue.startMs = anyTime(in);
        cue.endMs = anyTime(in);
    }
    subtitles::settleCueTimes(loose, rules);
    checkCues(loose, rules, false);
    return 0;
}
