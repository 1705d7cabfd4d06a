#pragma once

#include <QString>
#include <QVector>

#include "asr/resumestate.h"
#include "asr/resumestore.h"
#include "audio/ffmpegargs.h"

// The resume side of a transcription job, for one file at a time: which recognised segments
// an earlier run left, keeping each new one, and dropping the state once the transcript is
// written. Any front end's job drives it the same way:
//   beginFile → (show keptSegments) → segmentsCut → recognised … → fileDone
class JobResume
{
public:
    // Without a folder nothing is kept, and nothing is said about it.
    explicit JobResume(const QString &stateFolder = QString());
    void setFolder(const QString &stateFolder) { store = ResumeStore(stateFolder); }

    // At the start of a file. Takes over the kept segments when the earlier run can go on,
    // and drops a state that no longer fits. segmentSeconds: the cutting this run uses.
    void beginFile(
        const ResumeIdentity &identity, int segmentSeconds = FfmpegArgs::segmentSeconds);
    // The segments an earlier run recognised, to be shown before anything new.
    const QVector<RecognisedSegment> &keptSegments() const { return kept; }
    // The first segment this run sends.
    int firstSegment() const { return resumedCount; }
    // False when the state folder cannot be written: the job runs, but nothing is kept.
    bool keeping() const { return canKeep; }
    // What is to be said while the file is prepared: that it resumes (after keptSegments()),
    // or that nothing is kept; None when neither.
    enum class Note { None, Resuming, NotKeeping };
    Note note() const;
    // Once the file is cut. False when the kept segments do not belong to this cutting: they
    // are dropped, and the job starts over with segment 0.
    bool segmentsCut(int segmentCount);
    // After each recognised segment, in order.
    void recognised(const RecognisedSegment &segment);
    // Once the transcript is written whole.
    void fileDone();

private:
    ResumeStore store;
    ResumeState state;
    QVector<RecognisedSegment> kept;
    int resumedCount = 0;
    bool canKeep = false;
};
