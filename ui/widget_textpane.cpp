// The transcript pane wired to the library, the job and the player.
#include "ui/widget.h"

#include "asr/transcriptionjob.h"
#include "core/libraryindex.h"
#include "ui/dialogs.h"
#include "ui/librarypane.h"
#include "ui/playerbar.h"
#include "ui/taskbar.h"
#include "ui/transcriptpane.h"

const QString &Widget::openTranscript() const
{
    return transcript->transcriptPath();
}

void Widget::connectTranscriptPane()
{
    TranscriptionJob *j = job.get();
    connect(j, &TranscriptionJob::textRecognised, transcript, &TranscriptPane::appendText);
    // A segment's text comes first, its times right after it.
    connect(j, &TranscriptionJob::segmentRecognised, transcript,
        [this](int, int, int, int, const QString &text) { transcript->addTimedParagraph(text); });
    connect(j, &TranscriptionJob::utterancesRecognised, transcript,
        [this](
            int, const TimedUtterances &utterances) { transcript->setLastUtterances(utterances); });
    connect(j, &TranscriptionJob::fileFinished, transcript,
        [this, j](const QString &, const QString &transcriptPath) {
            transcript->keepTimes(j->sourceFile(), transcriptPath);
        });
    connect(transcript, &TranscriptPane::playRequested, playerBar, &PlayerBar::playFrom);
}

void Widget::slotWordOpen(const QString &path)
{
    // The job saves the pane into its own transcript; another file must not take its place.
    if (jobRunning() || liveBusy()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("正在转换，请稍后再打开文档！"));
        return;
    }
    transcript->open(path);
}

void Widget::slotCloseWord()
{
    const QString path = transcript->transcriptPath();
    if (transcript->saveAndClose() && !path.isEmpty())
        searchIndex->transcriptWritten(path);
}

void Widget::exportTranscriptSubtitles(const QString &name)
{
    transcript->exportSubtitlesOf(library->pathNamed(LibraryPane::Kind::Transcripts, name));
}
