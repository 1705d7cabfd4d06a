#include "asr/jobresume.h"

JobResume::JobResume(const QString &stateFolder)
    : store(stateFolder)
{ }

void JobResume::beginFile(const ResumeIdentity &identity, int segmentSeconds)
{
    state = ResumeState();
    state.identity = identity;
    state.identity.segmentSeconds = segmentSeconds;
    kept.clear();
    resumedCount = 0;
    canKeep = store.usable();
    if (!canKeep)
        return;
    ResumeState earlier;
    if (store.load(identity.sourcePath, &earlier)
        && ResumeRules::canResume(earlier, state.identity)) {
        state.segmentCount = earlier.segmentCount;
        kept = earlier.segments;
        resumedCount = kept.size();
        return;
    }
    // Torn, older, or of another file, language, service or cutting: of no use any more.
    store.remove(identity.sourcePath);
}

JobResume::Note JobResume::note() const
{
    if (resumedCount > 0)
        return Note::Resuming;
    if (!canKeep && !store.folder().isEmpty())
        return Note::NotKeeping;
    return Note::None;
}

bool JobResume::segmentsCut(int segmentCount)
{
    const bool fits = resumedCount == 0 || segmentCount == state.segmentCount;
    state.segmentCount = segmentCount;
    if (fits) {
        state.segments = kept;
        return true;
    }
    kept.clear();
    resumedCount = 0;
    state.segments.clear();
    store.remove(state.identity.sourcePath);
    return false;
}

void JobResume::recognised(const RecognisedSegment &segment)
{
    state.segments.append(segment);
    if (canKeep && !store.save(state))
        canKeep = false;
}

void JobResume::fileDone()
{
    store.remove(state.identity.sourcePath);
    state = ResumeState();
    kept.clear();
    resumedCount = 0;
}
