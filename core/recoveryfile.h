#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "core/transcripttimes.h"

// Unsaved edits of a transcript, kept apart from it so that a crash, a kill or a power loss
// loses none: one file a transcript in the user's data folder, readable by the user alone. It
// records the transcript as it was when the edits began (size, change time, hash), so edits
// made to a transcript that was changed since are only ever offered, never applied unasked.
struct TranscriptStamp
{
    qint64 size = -1;
    qint64 modifiedMs = -1;
    QByteArray sha256; // hex
    bool operator==(const TranscriptStamp &o) const
    {
        return size == o.size && modifiedMs == o.modifiedMs && sha256 == o.sha256;
    }
};

struct Recovery
{
    QString transcriptPath;
    TranscriptStamp stamp; // of the transcript the edits were made to
    QString text; // the pane's text as it was last kept
    TranscriptTimes times; // the lines' times, as edited
};

namespace RecoveryFiles {

QString pathFor(const QString &folder, const QString &transcriptPath);

// The transcript as it is now; size -1 when it cannot be read.
TranscriptStamp stampOf(const QString &transcriptPath);

QByteArray serialize(const Recovery &recovery);
// False for anything that is not a whole recovery file of this format.
bool parse(const QByteArray &bytes, Recovery *recovery);

// Written whole (the old one stays until the new one is complete), mode 600, in a folder only
// the user may enter. False when it could not be kept.
bool save(const QString &folder, const Recovery &recovery);
bool load(const QString &path, Recovery *recovery);
// Saved or discarded: the edits are no longer wanted. True when none are left.
bool remove(const QString &folder, const QString &transcriptPath);
// Every readable recovery file in the folder, newest first.
QList<Recovery> pending(const QString &folder);

// Whether the transcript differs from the one the edits were made to.
bool changedSince(const Recovery &recovery);

} // namespace RecoveryFiles
