#include "cli/batchrunner.h"

#include "asr/jobnotices.h"
#include "asr/jobservice.h"
#include "asr/recognitionreply.h"
#include "asr/transcriptionjob.h"
#include "asr/transcriptwriter.h"
#include "audio/audiosteps.h"
#include "cli/jsontranscript.h"
#include "cli/outputplan.h"
#include "cli/progressdisplay.h"
#include "cli/signalwatcher.h"
#include "core/filenames.h"
#include "core/subtitlefiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

struct BatchRunner::Worker
{
    TaskList tasks; // the one file the worker's job transcribes
    std::unique_ptr<TranscriptionJob> job;
    std::unique_ptr<QTemporaryDir> folder;
    int file = -1; // index in the plan; -1 when idle
    QStringList texts;
    QList<TranscriptSegment> segments;
    QString failure; // set when the file's end already failed, e.g. its JSON could not be written
};

BatchRunner::BatchRunner(const CliOptions &options, const QList<PlannedFile> &plan,
    const QString &clientId, ProgressDisplay *display, QObject *parent)
    : QObject(parent)
    , options(options)
    , plan(plan)
    , clientId(clientId)
    , display(display)
    , ticker(new QTimer(this))
{
    connect(ticker, &QTimer::timeout, this, [this] {
        if (lastMoved)
            showProgress(lastMoved, true);
    });
}

BatchRunner::~BatchRunner()
{
    // Jobs first: their processes may still write into the folders.
    for (auto &worker : workers)
        worker->job.reset();
}

void BatchRunner::start()
{
    clock.start();
    int toTranscribe = 0;
    for (int i = 0; i < plan.size(); ++i) {
        const PlannedFile &file = plan.at(i);
        if (file.action == PlannedFile::Skip) {
            ++result.skipped;
            ++filesEnded;
            display->message(QStringLiteral("%1: skipped, %2 exists (--overwrite replaces it)")
                                 .arg(fileLabel(i), file.transcript));
        } else if (file.action == PlannedFile::Clash) {
            const QString message = file.clashWith == file.input
                ? QStringLiteral("its transcript %1 would replace the input itself")
                      .arg(file.transcript)
                : QStringLiteral("its transcript %1 is also the transcript of %2")
                      .arg(file.transcript, file.clashWith);
            result.failures << RunSummary::Failure { file.input, message };
            ++filesEnded;
            display->message(QStringLiteral("%1: failed: %2").arg(fileLabel(i), message));
        } else {
            ++toTranscribe;
        }
    }

    const int count = qMin(options.jobs, toTranscribe);
    for (int i = 0; i < count; ++i) {
        workers.push_back(std::make_unique<Worker>());
        startNext(workers.back().get());
    }
    ticker->start(1000);
    finishIfIdle();
}

void BatchRunner::startNext(Worker *worker)
{
    worker->file = -1;
    while (nextFile < plan.size() && plan.at(nextFile).action != PlannedFile::Transcribe)
        ++nextFile;
    if (nextFile >= plan.size())
        return;
    worker->file = nextFile++;
    worker->texts.clear();
    worker->segments.clear();
    worker->failure.clear();
    lastMoved = worker;

    // A folder per file: nothing of an earlier file, and never the window's "myTmpWAVFiles".
    worker->folder = std::make_unique<QTemporaryDir>(
        QDir::tempPath() + QStringLiteral("/tovarin-transcribe-XXXXXX"));
    if (!worker->folder->isValid()) {
        const QString message = QStringLiteral("no temporary folder in %1: %2")
                                    .arg(QDir::tempPath(), worker->folder->errorString());
        // Told from the loop, as a job tells its end, so that the run goes on one file at a time.
        QMetaObject::invokeMethod(
            this, [this, worker, message] { fileEnded(worker, message); }, Qt::QueuedConnection);
        return;
    }
    if (!worker->job) {
        worker->job = std::make_unique<TranscriptionJob>();
        connectJob(worker);
    }

    const PlannedFile &file = plan.at(worker->file);
    JobSettings settings;
    settings.serviceBaseUrl = service.url.isEmpty() ? options.serviceUrl : service.url;
    JobService::apply(service, &settings);
    settings.serviceSecret = serviceSecret;
    settings.textRules = service.textRules(options.language, terms);
    settings.segmentFolder = worker->folder->filePath(QStringLiteral("segments"));
    settings.convertBesideSource = false; // input folders are only read
    settings.clientId = clientId;
    settings.language = options.language;
    settings.resumeFolder = resumeFolder;
    settings.spanFromMs = options.fromMs;
    settings.spanToMs = options.toMs;
    // JSON is made from the segments once the job has written its text; the text goes to the
    // temporary folder, so the output folder only ever sees the finished JSON.
    const QString textPath = options.formats.contains(CliOptions::Text)
        ? OutputPlanRules::transcriptPath(file.input, options.outputDir, CliOptions::Text)
        : worker->folder->filePath(QStringLiteral("transcript.txt"));
    settings.transcriptPathFor = [textPath](const QString &) { return textPath; };
    worker->job->setSettings(settings);
    worker->job->setServiceStarter(serviceStarter);
    worker->tasks.clear();
    worker->tasks.add(file.input);
    worker->job->setTaskList(&worker->tasks);
    showProgress(worker);
    worker->job->start();
}

void BatchRunner::connectJob(Worker *worker)
{
    TranscriptionJob *job = worker->job.get();
    connect(job, &TranscriptionJob::progressed, this, [this, worker] {
        lastMoved = worker;
        showProgress(worker);
    });
    connect(job, &TranscriptionJob::textRecognised, this,
        [worker](const QString &text) { worker->texts << text; });
    connect(job, &TranscriptionJob::segmentRecognised, this,
        [worker](int index, int count, int startSecond, int endSecond, const QString &text) {
            TranscriptSegment segment = JsonTranscriptRules::segmentInFile(index + 1 == count,
                startSecond, endSecond, worker->job->audioSteps()->durationMs(), text);
            // The job cuts a span's own audio; the file's time is the span's start later.
            const double offset = worker->job->settings().spanFromMs / 1000.0;
            segment.start += offset;
            segment.end += offset;
            worker->segments << segment;
        });
    connect(job, &TranscriptionJob::fileFinished, this, [this, worker] { fileFinished(worker); });
    // Heard once the job has returned from its last step, as a missing folder is.
    connect(
        job, &TranscriptionJob::finished, this,
        [this, worker](const JobResult &result) {
            fileEnded(
                worker, result.succeeded() ? worker->failure : JobNotices::text(result.failure));
        },
        Qt::QueuedConnection);
}

void BatchRunner::fileFinished(Worker *worker)
{
    const PlannedFile &file = plan.at(worker->file);
    for (const CliOptions::Format format : options.formats) {
        const QString path = OutputPlanRules::transcriptPath(file.input, options.outputDir, format);
        const TimedUtterances &timed = worker->job->fileUtterances();
        if (format == CliOptions::Json)
            writeJson(worker, path);
        else if (format == CliOptions::Srt)
            writeFile(worker, path, SubtitleFiles::srt(timed));
        else if (format == CliOptions::Vtt)
            writeFile(worker, path, SubtitleFiles::vtt(timed));
    }
    if (!worker->failure.isEmpty())
        return;
    for (const CliOptions::Format format : options.formats)
        emit transcriptWritten(
            OutputPlanRules::transcriptPath(file.input, options.outputDir, format));
}

void BatchRunner::writeFile(Worker *worker, const QString &path, const QByteArray &bytes)
{
    if (const std::optional<JobFailure> failure = TranscriptWriter::write(path, bytes))
        worker->failure = JobNotices::text(*failure);
}

void BatchRunner::writeJson(Worker *worker, const QString &path)
{
    const PlannedFile &file = plan.at(worker->file);
    JsonTranscript transcript;
    transcript.file = file.input;
    transcript.language = options.language;
    transcript.service = service.url.isEmpty() ? options.serviceUrl : service.url;
    transcript.segments = worker->segments;
    transcript.utterances = worker->job->fileUtterances();
    writeFile(worker, path, JsonTranscriptRules::build(transcript, transcriptText(worker->texts)));
}

void BatchRunner::fileEnded(Worker *worker, const QString &failure)
{
    // After a signal only the interruption counts; it is on its way through the loop.
    if (ending || worker->file < 0 || SignalWatcher::hasReceived())
        return;
    const int index = worker->file;
    ++filesEnded;
    if (failure.isEmpty()) {
        ++result.done;
        display->message(
            QStringLiteral("%1: done, %2").arg(fileLabel(index), plan.at(index).transcript), true);
    } else {
        result.failures << RunSummary::Failure { plan.at(index).input, failure };
        display->message(QStringLiteral("%1: failed: %2").arg(fileLabel(index), failure), true);
    }
    // The next file, if any, gets a fresh folder; this one goes now with the file's segments.
    worker->folder.reset();
    startNext(worker);
    finishIfIdle();
}

void BatchRunner::finishIfIdle()
{
    for (const auto &worker : workers) {
        if (worker->file >= 0)
            return;
    }
    ending = true;
    ticker->stop();
    display->clear();
    emit finished(result.failures.isEmpty() ? 0 : 1);
}

void BatchRunner::interrupt(int signalNumber)
{
    if (ending)
        return;
    ending = true;
    ticker->stop();
    for (auto &worker : workers) {
        worker->job.reset();
        worker->folder.reset();
    }
    display->clear();
    display->message(QStringLiteral("interrupted: the running files were stopped, nothing of "
                                    "them was written"));
    QMetaObject::invokeMethod(
        this, [this, signalNumber] { emit finished(128 + signalNumber); }, Qt::QueuedConnection);
}

QString BatchRunner::fileLabel(int index) const
{
    return QStringLiteral("[%1/%2] %3")
        .arg(index + 1)
        .arg(plan.size())
        .arg(FileNames::fileName(plan.at(index).input));
}

void BatchRunner::showProgress(Worker *worker, bool tick)
{
    if (worker->file < 0 || !worker->job)
        return;
    RunProgress progress;
    progress.fileCount = plan.size();
    progress.filesEnded = filesEnded;
    for (const auto &other : workers) {
        const int count = other->job ? other->job->data().segmentCount : 0;
        if (other->file >= 0 && count > 0)
            progress.runningFraction += double(other->segments.size()) / count;
    }
    progress.fileNumber = worker->file + 1;
    progress.fileName = FileNames::fileName(plan.at(worker->file).input);
    const TranscriptionJob::Step step = worker->job->step();
    if (step == TranscriptionJob::Step::Idle)
        return; // the file's end is told by its own line
    if (step == TranscriptionJob::Step::Uploading || step == TranscriptionJob::Step::BackingOff) {
        progress.segmentCount = worker->job->data().segmentCount;
        progress.segment = qMin(worker->segments.size() + 1, progress.segmentCount);
    }
    progress.elapsedMs = clock.elapsed();
    display->show(progress, tick);
}
