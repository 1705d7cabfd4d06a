// The window's search over the transcript library, and what the desktop shows of the job
// (ui/jobondesktop.h), wired to the library, the job and the panes.
#include "ui/widget.h"

#include "asr/transcriptionjob.h"
#include "core/filenames.h"
#include "core/libraryindex.h"
#include "core/programlayout.h"
#include "core/tasklist.h"
#include "core/transcripttimes.h"
#include "ui/appglobals.h"
#include "ui/dialogs.h"
#include "ui/jobondesktop.h"
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
    auto *onDesktop = new JobOnDesktop(job.get(), taskFiles, taskBar, this);
    connect(onDesktop, &JobOnDesktop::activated, this, &Widget::bringToFront);
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
