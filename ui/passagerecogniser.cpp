#include "ui/passagerecogniser.h"

#include "asr/jobnotices.h"

#include <QDir>
#include <QTemporaryDir>

namespace {

// A segment's text after another: a blank between Latin words, none between Chinese ones.
QString joined(const QStringList &texts)
{
    QString text;
    for (const QString &piece : texts) {
        const QString next = piece.trimmed();
        if (next.isEmpty())
            continue;
        if (!text.isEmpty() && text.back().unicode() < 0x2E80 && next.front().unicode() < 0x2E80)
            text += QLatin1Char(' ');
        text += next;
    }
    return text;
}

} // namespace

PassageRecogniser::PassageRecogniser(QObject *parent)
    : QObject(parent)
{ }

PassageRecogniser::~PassageRecogniser()
{
    // The job first: its processes may still write into the folder.
    job.reset();
}

void PassageRecogniser::start(JobSettings settings, SpeechServiceStarter *starter,
    const QString &source, qint64 fromMs, qint64 toMs)
{
    stop();
    folder = std::make_unique<QTemporaryDir>(
        QDir::tempPath() + QStringLiteral("/tovarin-passage-XXXXXX"));
    if (!folder->isValid()) {
        emit failed(QStringLiteral("无法创建临时文件夹：%1").arg(folder->errorString()));
        return;
    }
    settings.segmentFolder = folder->filePath(QStringLiteral("segments"));
    settings.convertBesideSource = false;
    const QString textPath = folder->filePath(QStringLiteral("passage.txt"));
    settings.transcriptPathFor = [textPath](const QString &) { return textPath; };
    settings.resumeFolder.clear();
    settings.spanFromMs = fromMs;
    settings.spanToMs = toMs;

    job = std::make_unique<TranscriptionJob>();
    TranscriptionJob *j = job.get();
    connect(
        j, &TranscriptionJob::textRecognised, this, [this](const QString &text) { texts << text; });
    // Still whole while the file's end is told.
    connect(j, &TranscriptionJob::fileFinished, this, [this, j] { heard = j->fileUtterances(); });
    // Told once the job has returned from its own steps, and only for this run: an end already
    // on its way when the passage was stopped is dropped.
    const int run = ++runs;
    // Both ends destroy the job: heard once it has returned from its last step.
    connect(
        j, &TranscriptionJob::finished, this,
        [this, run](const JobResult &result) {
            if (run != runs)
                return;
            if (result.succeeded()) {
                finished();
                return;
            }
            stop();
            emit failed(JobNotices::text(result.failure));
        },
        Qt::QueuedConnection);
    texts.clear();
    heard.clear();
    tasks.clear();
    tasks.add(source);
    j->setSettings(settings);
    j->setServiceStarter(starter);
    j->setTaskList(&tasks);
    j->start();
}

void PassageRecogniser::stop()
{
    ++runs;
    // Queued ends of a stopped job are not delivered: the job is gone with its connections.
    job.reset();
    folder.reset();
}

void PassageRecogniser::finished()
{
    const QString text = joined(texts);
    const TimedUtterances utterances = heard;
    stop();
    if (text.isEmpty() || utterances.isEmpty()) {
        emit failed(QStringLiteral("这段音频没有识别出文字。"));
        return;
    }
    emit recognised(text, utterances);
}
