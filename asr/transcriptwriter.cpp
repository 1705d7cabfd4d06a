#include "asr/transcriptwriter.h"

#include "core/wholefile.h"

namespace TranscriptWriter {

std::optional<JobFailure> write(const QString &path, const QByteArray &bytes)
{
    switch (WholeFile::replace(path, bytes)) {
    case WholeFile::Outcome::Written:
        return std::nullopt;
    case WholeFile::Outcome::IsLink:
        return JobFailure(JobFailure::Kind::TranscriptIsLink, path);
    case WholeFile::Outcome::Failed:
        break;
    }
    return JobFailure(JobFailure::Kind::TranscriptNotSaved, path);
}

} // namespace TranscriptWriter
