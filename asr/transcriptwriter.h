#pragma once

#include "asr/jobreport.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Writes a transcript the one safe way, for the window's job and the command line alike:
// written beside the target and renamed over it (never half a transcript), never through a
// link (even one pointing nowhere would have the text written wherever it points). A failure
// is data (TranscriptIsLink or TranscriptNotSaved, naming the path), worded by JobNotices.
namespace TranscriptWriter {

std::optional<JobFailure> write(const QString &path, const QByteArray &bytes);

} // namespace TranscriptWriter
