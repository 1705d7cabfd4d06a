#pragma once

#include "asr/jobreport.h"

// How far a running job is, from the steps and numbers it reports: the share of the file in
// hand and of the whole task list, and the time left at the speed this job has shown so far.
struct JobProgressFigures
{
    double fileShare = 0.0; // 0 to 1
    double listShare = 0.0; // 0 to 1
    int secondsLeft = -1; // -1 until the job has shown a speed
};

class JobProgress
{
public:
    // A job starts with this many task files.
    void begin(int files, qint64 nowMs);
    void status(const JobStatus &status);
    void fileFinished();
    JobProgressFigures figures(qint64 nowMs) const;

private:
    int m_files = 0;
    int m_filesDone = 0;
    double m_fileShare = 0.0;
    bool m_fileUploading = false; // the file's first recognition step was seen
    double m_freeShare = 0.0; // of the list: segments an earlier run recognised, not sent again
    qint64 m_startMs = 0;
};

namespace JobProgressRules {

// The share of a file its step stands for: the recognised segments' share; converting and
// cutting, which take little of the time, count as nothing yet.
double fileShare(const JobStatus &status);

// Seconds left when share of the work is done after elapsedMs, of which freeShare came
// without work (kept from an earlier run): the rest at the speed of the worked part. -1 until
// some work was done in a measurable time.
int secondsLeft(double share, double freeShare, qint64 elapsedMs);

} // namespace JobProgressRules
