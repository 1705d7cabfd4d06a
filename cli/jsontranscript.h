#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "core/timedtext.h"

// One recognised segment: where it lies in the input, in seconds to the millisecond, and its
// text (empty when the service heard nothing).
struct TranscriptSegment
{
    double start = 0;
    double end = 0;
    QString text;
};

struct JsonTranscript
{
    QString file;
    QString language; // item text of the window's language box
    QString service;
    QList<TranscriptSegment> segments;
    TimedUtterances utterances; // in file time
};

namespace JsonTranscriptRules {

// A segment as the job tells it (whole seconds: every cut lies on one) placed in its file: the
// last one ends where the audio does, to the millisecond (audioMs; 0 when unknown).
TranscriptSegment segmentInFile(
    bool last, int startSecond, int endSecond, qint64 audioMs, const QString &text);

// A JSON object, UTF-8, three-blank indent, members sorted, final line break:
// "file", "language", "dev_pid" (absent for a language without one), "service", "segments"
// (each with "start", "end" and "text"), "utterances" (each with "start", "end", "text" and,
// where known, "words" with "word", "start" and "end"; seconds to the millisecond), and "text",
// the whole transcript as the txt format holds it.
QByteArray build(const JsonTranscript &transcript, const QString &wholeText);

} // namespace JsonTranscriptRules
