#pragma once

#include "asr/jobprogress.h"

#include <QElapsedTimer>
#include <QProgressBar>

// Under the task strip while a job runs: the whole task list's share as the bar, the file's
// share and the time left in its text. Hidden when no job runs.
class JobProgressBar final : public QProgressBar
{
    Q_OBJECT
    Q_DISABLE_COPY(JobProgressBar)

public:
    explicit JobProgressBar(QWidget *parent);

    void jobStarted(int files);
    void showStatus(const JobStatus &status);
    void fileFinished();
    void jobEnded();

    JobProgressFigures figures() const;

private:
    void refresh();

    JobProgress progress;
    QElapsedTimer clock;
};

namespace JobStatusTexts {
// "本文件 40% · 全部 20% · 剩余约 3分12秒" ("剩余时间计算中" before the job has shown a speed).
QString progressText(const JobProgressFigures &figures);
} // namespace JobStatusTexts
