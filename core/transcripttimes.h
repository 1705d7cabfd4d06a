#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include "core/timedtext.h"

// The times of a transcript, kept beside it in a hidden file the library does not list
// (".talk.txt.times.json" beside "talk.txt"): each recognised paragraph's text with its
// utterances, so that a transcript the user edited still knows where its unchanged lines were said.
struct TimedParagraph
{
    QString text;
    TimedUtterances utterances;
};

struct TranscriptTimes
{
    QString source; // the audio the transcript was made from
    QVector<TimedParagraph> paragraphs;
};

// What the times of a text (as it is now) come to.
struct MatchedTimes
{
    TimedUtterances utterances; // of the lines that still read as they were recognised
    int linesWithoutTimes = 0; // non-empty lines that were edited or added
};

namespace TranscriptTimesRules {

QString sidecarPath(const QString &transcriptPath);
QByteArray serialize(const TranscriptTimes &times);
// False for anything that is not a whole sidecar of this format.
bool parse(const QByteArray &bytes, TranscriptTimes *times);

// A line keeps its times when it reads, blanks at its ends aside, as a recognised paragraph
// did; paragraphs are taken in order, so a line moved before the ones it followed loses them.
MatchedTimes match(const QString &text, const QVector<TimedParagraph> &paragraphs);

// Where each line of the text (split at line breaks) was said, by the rule of match; -1 for a
// line without a time.
QVector<qint64> lineStarts(const QString &text, const QVector<TimedParagraph> &paragraphs);

// Reads and writes the sidecar; writing replaces the old one whole.
bool save(const QString &transcriptPath, const TranscriptTimes &times);
bool load(const QString &transcriptPath, TranscriptTimes *times);

// The times follow their transcript once it was renamed (call after the transcript itself
// moved, so that a refused rename moves nothing): whatever lies at the new name's sidecar is
// left over from a transcript that no longer exists and must not lend it its times, so it is
// replaced, or removed when the transcript had no times. False when that did not work.
bool followRename(const QString &oldTranscriptPath, const QString &newTranscriptPath);
// The audio these transcripts were made from was renamed: their times name it by its new
// name, so their lines can still be played. Returns how many sidecars were rewritten.
int followSourceRename(
    const QStringList &transcriptPaths, const QString &oldSource, const QString &newSource);
// The times go with their transcript. True when none are left.
bool removeFor(const QString &transcriptPath);

} // namespace TranscriptTimesRules
