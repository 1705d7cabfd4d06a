#pragma once

#include <QString>

#include "asr/resumestate.h"

// The folder where jobs keep what they recognised of each file, one state file per source.
// States live apart from the working folders, so no library list shows them, no start of a job
// empties them, and nothing takes them for a transcript.
class ResumeStore
{
public:
    explicit ResumeStore(const QString &folder);

    // The window's folder, beside its working folders.
    static QString defaultFolder(const QString &appDir);
    QString folder() const { return stateFolder; }

    // Creates the folder when missing; false when states cannot be kept there.
    bool usable() const;
    // Written beside and renamed over the old state: a kill at any moment leaves the old state
    // or the new one, never a mix. False when it could not be written.
    bool save(const ResumeState &state) const;
    // The state kept for sourcePath when one reads whole; a torn, foreign or older state is
    // not one.
    bool load(const QString &sourcePath, ResumeState *state) const;
    void remove(const QString &sourcePath) const;
    // Drops states whose source file is gone (but not those of a drive that is away, see
    // ResumeRules::isStale), states that no longer read, and leftovers of writes that a kill
    // interrupted. Touches nothing but such files in this folder.
    void removeStale() const;

private:
    QString pathFor(const QString &sourcePath) const;
    QString stateFolder;
};
