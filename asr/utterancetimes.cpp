#include "asr/utterancetimes.h"

#include <algorithm>

#include "protocol/speechprotocol.h"

namespace UtteranceTimes {

qint64 segmentStartMs(int index, int segmentSeconds)
{
    return qint64(std::max(0, index)) * std::max(1, segmentSeconds) * 1000;
}

qint64 wavDurationMs(qint64 fileBytes)
{
    const qint64 header = 44;
    const qint64 bytesPerSecond
        = speechprotocol::kSampleRate * speechprotocol::kBytesPerSample * speechprotocol::kChannels;
    return std::max<qint64>(0, fileBytes - header) * 1000 / bytesPerSecond;
}

TimedUtterances placeInFile(const TimedUtterances &inSegment, const QString &text, bool hasText,
    qint64 startMs, qint64 durationMs)
{
    TimedUtterances placed;
    if (inSegment.isEmpty()) {
        if (hasText && !text.trimmed().isEmpty())
            placed.append(
                TimedUtterance { startMs, startMs + std::max<qint64>(0, durationMs), text, {} });
        return placed;
    }
    for (TimedUtterance utterance : inSegment) {
        utterance.startMs += startMs;
        utterance.endMs += startMs;
        for (TimedWord &word : utterance.words) {
            word.startMs += startMs;
            word.endMs += startMs;
        }
        placed.append(utterance);
    }
    settle(&placed, startMs);
    return placed;
}

void settle(TimedUtterances *utterances, qint64 notBeforeMs)
{
    std::stable_sort(utterances->begin(), utterances->end(),
        [](const TimedUtterance &a, const TimedUtterance &b) { return a.startMs < b.startMs; });
    qint64 floor = notBeforeMs;
    for (TimedUtterance &utterance : *utterances) {
        utterance.startMs = std::max(utterance.startMs, floor);
        utterance.endMs = std::max(utterance.endMs, utterance.startMs);
        qint64 wordFloor = utterance.startMs;
        for (TimedWord &word : utterance.words) {
            word.startMs = std::min(std::max(word.startMs, wordFloor), utterance.endMs);
            word.endMs = std::min(std::max(word.endMs, word.startMs), utterance.endMs);
            wordFloor = word.endMs;
        }
        floor = utterance.endMs;
    }
}

} // namespace UtteranceTimes
