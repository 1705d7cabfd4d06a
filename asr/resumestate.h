#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "core/timedtext.h"

// What a job keeps of a file between runs, so that a run that ended early can go on with the
// first segment not yet recognised. The rules here are pure; ResumeStore keeps the files.

// What must be unchanged for kept segments to belong to a new run of the same file.
struct ResumeIdentity
{
    QString sourcePath; // the task file as the user added it
    qint64 sourceSize = -1;
    qint64 sourceModifiedMs = -1; // modification time, ms since the epoch (UTC)
    int devPid = -1; // -1: the language matches no row, the request carries no "dev_pid"
    QString serviceUrl;
    QString serviceKind; // which protocol the service speaks
    QString model; // the transcription API's model; empty for the token protocol
    // A digest of the file's size, first and last bytes: a different file put in its place with
    // its size and times kept (cp -p) is not taken for it, and the same file on a drive that
    // was away and came back still is.
    QString contentDigest;
    int segmentSeconds = 0;

    bool operator==(const ResumeIdentity &other) const;
    bool operator!=(const ResumeIdentity &other) const { return !(*this == other); }

    // The identity of a run on sourcePath now; size and time -1 when the file is missing.
    static ResumeIdentity of(const QString &sourcePath, const QString &language,
        const QString &serviceUrl, const QString &serviceKind = QString(),
        const QString &model = QString());
};

// One recognised segment as the reply gave it: a reply without text appends nothing.
struct RecognisedSegment
{
    RecognisedSegment() = default;
    RecognisedSegment(bool hasText, const QString &text, const TimedUtterances &utterances = {})
        : hasText(hasText)
        , text(text)
        , utterances(utterances)
    { }

    bool hasText = false;
    QString text;
    // Its utterances in file time; empty for a state of an older version, which kept none.
    TimedUtterances utterances;

    bool operator==(const RecognisedSegment &other) const
    {
        return hasText == other.hasText && text == other.text && utterances == other.utterances;
    }
};

struct ResumeState
{
    // Raised whenever a change of the format would let an older state be misread. Version 1
    // kept no times and no content digest: such a state is not read, the file starts over.
    static constexpr int formatVersion = 2;

    ResumeIdentity identity;
    int segmentCount = 0;
    // Segments 0 .. n-1 in order; the next run begins with segment n.
    QVector<RecognisedSegment> segments;
};

namespace ResumeRules {

enum class ParseResult { Ok, Corrupt, OtherVersion };

// The state as a JSON object (UTF-8).
QByteArray serialize(const ResumeState &state);
// Reads a state; anything cut off, of the wrong shape or inconsistent is Corrupt, and a state
// of any other format version is not read at all.
ParseResult parse(const QByteArray &bytes, ResumeState *state);
// The source path a state names, when at least that much of it can be read; empty otherwise.
QString sourceOf(const QByteArray &bytes);

// The digest ResumeIdentity::contentDigest holds, of an open file of this size; empty when the
// file cannot be read.
QString contentDigest(const QString &path);

// A state whose source is not there is dropped only when the folder it was in is there and
// holds other files: a folder that is missing or empty may be a drive that is not mounted now.
// A state nobody touched for a long time goes whatever its source.
bool isStale(bool sourceIsFile, bool folderHasEntries, qint64 stateAgeDays);

// A state's file name: a digest of the source path, so every file has one place.
QString stateFileName(const QString &sourcePath);
// True for names stateFileName makes, and nothing else in the folder.
bool isStateFileName(const QString &name);

// Kept segments go on only when the file, language, service and cutting are those of now, and
// the segments recognised are fewer than the file has.
bool canResume(const ResumeState &kept, const ResumeIdentity &now);

} // namespace ResumeRules
