#include "ui/jobprogressbar.h"

#include <cmath>

namespace JobStatusTexts {

QString progressText(const JobProgressFigures &f)
{
    const auto percent = [](double share) { return int(std::floor(share * 100.0 + 1e-9)); };
    QString left;
    if (f.secondsLeft < 0)
        left = QStringLiteral("剩余时间计算中");
    else if (f.secondsLeft >= 3600)
        left = QStringLiteral("剩余约 %1小时%2分")
                   .arg(f.secondsLeft / 3600)
                   .arg(f.secondsLeft / 60 % 60);
    else if (f.secondsLeft >= 60)
        left = QStringLiteral("剩余约 %1分%2秒").arg(f.secondsLeft / 60).arg(f.secondsLeft % 60);
    else
        left = QStringLiteral("剩余约 %1秒").arg(f.secondsLeft);
    return QStringLiteral("本文件 %1% · 全部 %2% · %3")
        .arg(percent(f.fileShare))
        .arg(percent(f.listShare))
        .arg(left);
}

} // namespace JobStatusTexts

JobProgressBar::JobProgressBar(QWidget *parent)
    : QProgressBar(parent)
{
    setObjectName(QStringLiteral("jobProgressBar"));
    setRange(0, 1000);
    setTextVisible(true);
    hide();
}

void JobProgressBar::jobStarted(int files)
{
    clock.start();
    progress.begin(files, 0);
    refresh();
    show();
}

void JobProgressBar::showStatus(const JobStatus &status)
{
    progress.status(status);
    refresh();
}

void JobProgressBar::fileFinished()
{
    progress.fileFinished();
    refresh();
}

void JobProgressBar::jobEnded()
{
    hide();
}

JobProgressFigures JobProgressBar::figures() const
{
    return progress.figures(clock.isValid() ? clock.elapsed() : 0);
}

void JobProgressBar::refresh()
{
    const JobProgressFigures f = figures();
    setValue(int(std::lround(f.listShare * 1000)));
    setFormat(JobStatusTexts::progressText(f));
}
