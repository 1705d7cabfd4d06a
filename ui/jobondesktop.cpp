#include "ui/jobondesktop.h"

#include <QWidget>

#include "asr/transcriptionjob.h"
#include "core/tasklist.h"
#include "platform/desktopnotices.h"
#include "ui/jobprogressbar.h"

JobOnDesktop::JobOnDesktop(
    TranscriptionJob *job, const TaskList *tasks, QWidget *strip, QWidget *window)
    : QObject(window)
    , tasks(tasks)
    , window(window)
    , bar(new JobProgressBar(strip->parentWidget()))
    , desktop(new DesktopNotices(QStringLiteral("org.example.tovarin.desktop"), this))
{
    const QRect under = strip->geometry();
    bar->setGeometry(under.x() + 10, under.bottom() + 2, under.width() - 20, 16);
    connect(desktop, &DesktopNotices::activated, this, &JobOnDesktop::activated);
    follow(job);
}

void JobOnDesktop::follow(TranscriptionJob *job)
{
    connect(job, &TranscriptionJob::runningChanged, this, [this](bool running) {
        if (running) {
            filesDone = 0;
            bar->jobStarted(tasks->paths().size());
            bar->raise();
        } else {
            bar->jobEnded();
        }
        desktop->setLauncherProgress(0.0, running);
    });
    connect(job, &TranscriptionJob::progressed, this, [this](const JobStatus &status) {
        bar->showStatus(status);
        desktop->setLauncherProgress(bar->figures().listShare, true);
    });
    connect(job, &TranscriptionJob::fileFinished, this, [this] {
        ++filesDone;
        bar->fileFinished();
        desktop->setLauncherProgress(bar->figures().listShare, true);
    });
    connect(job, &TranscriptionJob::finished, this,
        [this](const JobResult &result) { notifyEnd(result.succeeded()); });
}

void JobOnDesktop::notifyEnd(bool succeeded)
{
    // The user who looks at the window sees the end there.
    if (window->isActiveWindow())
        return;
    if (succeeded)
        desktop->notify(
            QStringLiteral("转写完成"), QStringLiteral("%1个文件已经全部转换完成").arg(filesDone));
    else
        desktop->notify(QStringLiteral("转写失败"),
            QStringLiteral("转写未完成，已完成%1个文件").arg(filesDone));
}
