#include "asr/jobprogress.h"

#include <algorithm>
#include <cmath>

namespace JobProgressRules {

double fileShare(const JobStatus &status)
{
    if (status.kind != JobStatus::Kind::Uploading)
        return 0.0;
    // Nothing to send is all sent.
    if (status.count <= 0)
        return 1.0;
    return std::clamp(double(status.done) / status.count, 0.0, 1.0);
}

int secondsLeft(double share, double freeShare, qint64 elapsedMs)
{
    const double worked = share - freeShare;
    if (share >= 1.0)
        return 0;
    if (worked <= 1e-9 || elapsedMs <= 0)
        return -1;
    const double seconds = (1.0 - share) * (elapsedMs / 1000.0) / worked;
    return int(std::min(std::ceil(seconds - 1e-6), 1e9));
}

} // namespace JobProgressRules

void JobProgress::begin(int files, qint64 nowMs)
{
    *this = JobProgress();
    m_files = std::max(files, 1);
    m_startMs = nowMs;
}

void JobProgress::status(const JobStatus &status)
{
    switch (status.kind) {
    case JobStatus::Kind::FileBegun:
        m_fileShare = 0.0;
        m_fileUploading = false;
        break;
    case JobStatus::Kind::Uploading: {
        const double share = JobProgressRules::fileShare(status);
        // The first count of a file is what an earlier run left: shown, but not worked for.
        if (!m_fileUploading)
            m_freeShare += share / m_files;
        m_fileUploading = true;
        m_fileShare = std::max(m_fileShare, share);
        break;
    }
    default:
        break;
    }
}

void JobProgress::fileFinished()
{
    m_filesDone = std::min(m_filesDone + 1, m_files);
    m_fileShare = 0.0;
    m_fileUploading = false;
}

JobProgressFigures JobProgress::figures(qint64 nowMs) const
{
    JobProgressFigures f;
    f.fileShare = m_fileShare;
    f.listShare = std::min(1.0, (m_filesDone + m_fileShare) / std::max(m_files, 1));
    f.secondsLeft = JobProgressRules::secondsLeft(f.listShare, m_freeShare, nowMs - m_startMs);
    return f;
}
