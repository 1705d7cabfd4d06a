// The window's search over the transcript library, the job's progress bar and the desktop's
// notices and launcher, wired to the library, the job and the panes.
#include "ui/widget.h"

#include "asr/transcriptionjob.h"
#include "core/filenames.h"
#include "core/libraryindex.h"
#include "core/programlayout.h"
#include "core/tasklist.h"
#include "core/transcripttimes.h"
#include "platform/desktopnotices.h"
#include "ui/appglobals.h"
#include "ui/dialogs.h"
#include "ui/jobprogressbar.h"
#include "ui/librarypane.h"
#include "ui/mylistwidget.h"
#include "ui/playerbar.h"
#include "ui/taskbar.h"
#include "ui/transcriptpane.h"
#include "ui/transcriptsearch.h"

#include <QFileInfo>
#include <QListWidgetItem>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

void Widget::setUpSearch()
{
    searchIndex = new LibraryIndex(ProgramLayout::searchIndexFile(AppGlobals::appDir()),
        ProgramLayout::transcriptFolder(AppGlobals::appDir()), this);
    transcriptSearch = new TranscriptSearch(searchIndex, library);
    library->addAboveTranscripts(transcriptSearch);
    auto *shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")), this);
    connect(shortcut, &QShortcut::activated, transcriptSearch, &TranscriptSearch::focusField);
    connect(transcriptSearch, &TranscriptSearch::openRequested, this, &Widget::openSearchResult);
    // The job's transcripts are the program's own writes.
    connect(job.get(), &TranscriptionJob::fileFinished, searchIndex,
        [this](const QString &, const QString &transcriptPath) {
            searchIndex->transcriptWritten(transcriptPath);
        });
    searchIndex->start();
    jobProgress = new JobProgressBar(taskBar->parentWidget());
    const QRect strip = taskBar->geometry();
    jobProgress->setGeometry(strip.x() + 10, strip.bottom() + 2, strip.width() - 20, 16);
    desktop = new DesktopNotices(QStringLiteral("org.example.tovarin.desktop"), this);
    connect(desktop, &DesktopNotices::activated, this, &Widget::bringToFront);
    TranscriptionJob *j = job.get();
    connect(j, &TranscriptionJob::runningChanged, this, [this](bool running) {
        if (running) {
            jobFilesDone = 0;
            jobProgress->jobStarted(taskFiles->paths().size());
            jobProgress->raise();
        } else {
            jobProgress->jobEnded();
        }
        desktop->setLauncherProgress(0.0, running);
    });
    connect(j, &TranscriptionJob::progressed, this, [this](const JobStatus &status) {
        jobProgress->showStatus(status);
        desktop->setLauncherProgress(jobProgress->figures().listShare, true);
    });
    connect(j, &TranscriptionJob::fileFinished, this, [this] {
        ++jobFilesDone;
        jobProgress->fileFinished();
        desktop->setLauncherProgress(jobProgress->figures().listShare, true);
    });
    connect(j, &TranscriptionJob::finished, this, [this](const JobResult &result) {
        if (isActiveWindow())
            return;
        if (result.succeeded())
            desktop->notify(QStringLiteral("转写完成"),
                QStringLiteral("%1个文件已经全部转换完成").arg(jobFilesDone));
        else
            desktop->notify(QStringLiteral("转写失败"),
                QStringLiteral("转写未完成，已完成%1个文件").arg(jobFilesDone));
    });
}

void Widget::openSearchResult(const QString &path, int line, qint64 startMs)
{
    // As opening from the list: refused while a job runs, with the same notice.
    if (jobRunning()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("正在转换，请稍后再打开文档！"));
        return;
    }
    if (!transcript->open(path, line))
        return;
    const QString source = transcript->times().source;
    if (startMs >= 0 && QFileInfo(source).isFile())
        playerBar->playFrom(source, startMs);
}
