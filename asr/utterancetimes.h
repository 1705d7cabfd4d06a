#pragma once

#include <QString>

#include "core/timedtext.h"

// Where a segment's utterances lie in the whole file. Segment k of a file cut every
// segmentSeconds starts at k × segmentSeconds; a reply's times count from its segment's start.
namespace UtteranceTimes {

qint64 segmentStartMs(int index, int segmentSeconds);
// Length of a 16 kHz mono 16-bit WAV segment of this many bytes (its 44-byte header left out).
qint64 wavDurationMs(qint64 fileBytes);

// The segment's utterances moved to file time. A segment with text but no times becomes one
// utterance spanning the segment [startMs, startMs + durationMs].
TimedUtterances placeInFile(const TimedUtterances &inSegment, const QString &text, bool hasText,
    qint64 startMs, qint64 durationMs);

// Times never go backwards and never overlap: each utterance begins no earlier than the one
// before ends (notBeforeMs for the first), ends no earlier than it begins, and its words stay
// inside it in order.
void settle(TimedUtterances *utterances, qint64 notBeforeMs);

} // namespace UtteranceTimes
