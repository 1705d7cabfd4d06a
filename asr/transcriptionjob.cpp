#include "asr/transcriptionjob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QTextCodec>

#include <utility>

#include "asr/logging.h"
#include "asr/qthttpclass.h"
#include "asr/recognisedtext.h"
#include "asr/recognitionbackend.h"
#include "asr/recognitionreply.h"
#include "asr/segmentuploader.h"
#include "asr/speechservicestarter.h"
#include "asr/transcriptwriter.h"
#include "asr/utterancetimes.h"
#include "audio/audiosteps.h"
#include "audio/ffmpegargs.h"
#include "core/filenames.h"

using Failure = JobFailure::Kind;
using Status = JobStatus::Kind;

void TranscriptionJob::clearFolder(const QString &path)
{
    QDir folder(path);
    // Links too (a dangling one is a "system" entry), removed themselves.
    const QStringList files = folder.entryList(QDir::Files | QDir::System | QDir::Hidden);
    for (const QString &name : files)
        folder.remove(name);
}

TranscriptionJob::TranscriptionJob(QtHttpClass *client, QObject *parent)
    : QObject(parent)
    , http(client)
{
    if (!http) {
        auto *own = new QtHttpClass();
        own->setParent(this);
        http = own;
    }
    // Failures may be heard through a queued connection.
    qRegisterMetaType<JobStatus>();
    qRegisterMetaType<JobFailure>();
    qRegisterMetaType<JobResult>();
    // A reply larger than any recognition result is cut off while it is read.
    http->setMaxReplyBytes(MaxRecognitionReplyBytes);
    backends = new RecognitionBackends(http, this);
    backend = backends->forKind(config.serviceKind);
    uploader = new SegmentUploader(this);
    audio = new AudioSteps(this);
    followBackends();
    followAudio();
    followUploader();
}

// The answer to authenticate(): the step that waited for it goes on, or the job fails naming
// why. Only the authenticating step asks, and a stop aborts the request.
void TranscriptionJob::followBackends()
{
    for (RecognitionBackend *each : backends->all()) {
        connect(each, &RecognitionBackend::authenticated, this, [this] {
            const std::function<void()> next = std::exchange(afterToken, nullptr);
            if (next)
                next();
            else
                beginFile();
        });
        connect(each, &RecognitionBackend::authenticationFailed, this, &TranscriptionJob::fail);
    }
}

// Each audio step's end, heard only while the job is at that step.
void TranscriptionJob::followAudio()
{
    connect(audio, &AudioSteps::conversionFinished, this, &TranscriptionJob::conversionFinished);
    connect(audio, &AudioSteps::durationFound, this, [this](int seconds) {
        if (current == Step::Probing)
            beginSegments(seconds);
    });
    connect(audio, &AudioSteps::durationMissing, this, [this] {
        if (current == Step::Probing)
            fail(Failure::DurationUnknown);
    });
    connect(audio, &AudioSteps::cutFinished, this, &TranscriptionJob::cutFinished);
    connect(audio, &AudioSteps::toolMissing, this, [this] {
        if (isRunning())
            fail(Failure::ToolMissing);
    });
}

// What became of each segment sent. The uploader reports only what it still waits for, and a
// stop ends its waits.
void TranscriptionJob::followUploader()
{
    connect(uploader, &SegmentUploader::replied, this, &TranscriptionJob::takeReply);
    connect(uploader, &SegmentUploader::backingOff, this,
        [this](const RecognitionReply &reply, int seconds) {
            jobData.lastErrNo = reply.errNo;
            setStep(Step::BackingOff, { Status::Retrying, 0, 0, seconds });
        });
    connect(uploader, &SegmentUploader::retryDue, this, &TranscriptionJob::beginUpload);
    connect(uploader, &SegmentUploader::failed, this, &TranscriptionJob::fail);
}

TranscriptionJob::~TranscriptionJob()
{
    // Whoever listens may be half-destroyed already: nothing is reported from here on.
    blockSignals(true);
    endSteps();
    restoreTaskFront();
}

QtHttpClass *TranscriptionJob::httpClient() const
{
    return http;
}

const TokenReply &TranscriptionJob::token() const
{
    return backends->token();
}

void TranscriptionJob::keepToken(const QString &accessToken)
{
    backends->keepToken(accessToken);
}

AccessToken *TranscriptionJob::accessToken() const
{
    return backends->accessToken();
}

bool TranscriptionJob::setStep(Step step)
{
    return enter(step, nullptr);
}

bool TranscriptionJob::setStep(Step step, const JobStatus &status)
{
    return enter(step, &status);
}

bool TranscriptionJob::enter(Step step, const JobStatus *status)
{
    const bool wasRunning = isRunning();
    current = step;
    starting = false;
    return tell([&] { emit stepChanged(step); })
        && (!status || tell([&] { emit progressed(*status); }))
        && (wasRunning == isRunning() || tell([&] { emit runningChanged(isRunning()); }));
}

void TranscriptionJob::setIdle()
{
    transcript.clear();
    setStep(Step::Idle, { Status::Ready });
}

void TranscriptionJob::start()
{
    if (isRunning())
        return;
    // The caller returns before anything of the job happens, whatever it is told.
    starting = true;
    ++run;
    emit runningChanged(true);
    QMetaObject::invokeMethod(this, &TranscriptionJob::begin, Qt::QueuedConnection);
}

void TranscriptionJob::begin()
{
    // Stopped before it began, or begun already by an earlier start.
    if (!starting || current != Step::Idle)
        return;
    if (!tasks || tasks->isEmpty()) {
        fail({ Failure::NoTasks });
        return;
    }
    if (!http->setCaFile(config.caFile)) {
        fail({ Failure::CaFileUnreadable, config.caFile });
        return;
    }
    // Only a service proven the user's own is asked at the built-in address, and by number:
    // "localhost" may also name [::1], where another user may listen.
    if (serviceStarter)
        config.serviceBaseUrl = SpeechServiceStarter::pinnedUrl(config.serviceBaseUrl);
    backend = backends->forKind(config.serviceKind);
    if (!backend->isAuthenticated()) {
        authenticate([this] { beginFile(); });
        return;
    }
    beginFile();
}

void TranscriptionJob::authenticate(std::function<void()> next)
{
    if (!setStep(Step::Authenticating, { Status::Authenticating }))
        return;
    afterToken = std::move(next);
    proveThen([this] { backend->authenticate(config); });
}

void TranscriptionJob::proveThen(std::function<void()> next)
{
    if (!serviceStarter) {
        next();
        return;
    }
    afterProof = std::move(next);
    serviceStarter->ensureRunning(config.serviceBaseUrl);
}

void TranscriptionJob::setServiceStarter(SpeechServiceStarter *starter)
{
    if (serviceStarter == starter)
        return;
    if (serviceStarter)
        serviceStarter->disconnect(this);
    serviceStarter = starter;
    backends->setServiceStarter(starter);
    if (!starter)
        return;
    // Nothing waits after a stop: endSteps dropped what did.
    connect(starter, &SpeechServiceStarter::ready, this, [this] {
        if (const std::function<void()> next = std::exchange(afterProof, nullptr))
            next();
    });
    connect(starter, &SpeechServiceStarter::failed, this, [this](const QString &message) {
        if (std::exchange(afterProof, nullptr))
            fail({ Failure::ServiceNotStarted, QString(), message });
    });
}

void TranscriptionJob::stop()
{
    if (!isRunning())
        return;
    endSteps();
    restoreTaskFront();
    setIdle();
}

// Every front end words a failure its own way, leaving out what the log keeps.
void TranscriptionJob::logFailure(const JobFailure &failure) const
{
    const char *kind = QMetaEnum::fromType<JobFailure::Kind>().valueToKey(int(failure.kind));
    qCWarning(lcJob).noquote() << "job failed:" << kind << "file" << source << "path"
                               << failure.path << "reason" << failure.reason << "err_no"
                               << failure.errNo << "HTTP status" << failure.httpStatus;
}

void TranscriptionJob::fail(const JobFailure &failure)
{
    logFailure(failure);
    endSteps();
    restoreTaskFront();
    setIdle();
    finish({ JobResult::Error::Failed, failure });
}

void TranscriptionJob::finish(const JobResult &result)
{
    // The job's last act in its step: a listener may start it again (which only schedules).
    emit finished(result);
}

void TranscriptionJob::endSteps()
{
    // What still waits belongs to the run that ends: an answer to its question, a listener's
    // return from one of its signals.
    ++run;
    audio->stop();
    // Aborted replies are dropped by the client, never reported as failures.
    uploader->stop();
    backends->abort();
    afterProof = nullptr;
    afterToken = nullptr;
}

void TranscriptionJob::restoreTaskFront()
{
    discardConverted();
    if (!showsConverted)
        return;
    showsConverted = false;
    emit taskEntryRestored(source);
}

void TranscriptionJob::discardConverted()
{
    // Only a file this job made: a file of that name the user had is never converted over.
    if (!converted.isEmpty())
        QFile::remove(converted);
    converted.clear();
}

void TranscriptionJob::beginFile()
{
    if (!QDir().mkpath(config.segmentFolder)) {
        fail(Failure::CutFailed);
        return;
    }
    clearFolder(config.segmentFolder);
    if (!tasks || tasks->isEmpty()) {
        fail(Failure::NoTasks);
        return;
    }
    const QString taskFile = tasks->front();
    transcript = config.transcriptPathFor
        ? config.transcriptPathFor(taskFile)
        : config.transcriptFolder + QLatin1Char('/') + FileNames::transcriptName(taskFile);
    texts.clear();
    timed.clear();
    if (setStep(Step::Converting, { Status::FileBegun })
        && tell([&] { emit fileStarted(taskFile, transcript); }))
        convertAudioFormat();
}

void TranscriptionJob::convertAudioFormat()
{
    if (!setStep(Step::Converting, { Status::Preparing }))
        return;
    if (!tasks || tasks->isEmpty()) {
        setIdle();
        return;
    }
    // A restart after a stop or an error begins with the file as the user added it.
    restoreTaskFront();
    source = tasks->front();
    // A span's segments are not the file's: nothing of it is kept, nor taken from a whole run.
    resume.setFolder(config.hasSpan() ? QString() : config.resumeFolder);
    resume.beginFile(backend->resumeIdentity(source, config), segmentLength());
    if (resume.note() == JobResume::Note::Resuming && !tell([&] {
            emit progressed({ Status::Resuming, resume.firstSegment() });
        }))
        return;
    if (resume.note() == JobResume::Note::NotKeeping
        && !tell([&] { emit progressed({ Status::NotKeeping }); }))
        return;

    if (!FfmpegArgs::isRawPcm(source)) {
        startConversion();
        return;
    }
    if (!questions) {
        rawPcmAnswered(true);
        return;
    }
    questions->askRawPcm(source, [job = QPointer<TranscriptionJob>(this), asked = run](bool goOn) {
        if (job && job->run == asked)
            job->rawPcmAnswered(goOn);
    });
}

void TranscriptionJob::rawPcmAnswered(bool goOn)
{
    if (!goOn) {
        setIdle();
        return;
    }
    // Raw samples are read as they are, unless a span of them is to be cut out first.
    if (config.hasSpan())
        startConversion();
    else
        getAudioLength();
}

void TranscriptionJob::startConversion()
{
    QString target = FfmpegArgs::convertedPath(source);
    // A file of that name beside the source is the user's: the copy goes to our own folder.
    if (!config.convertBesideSource || QFileInfo::exists(target))
        target = config.segmentFolder + QLatin1Char('/') + FileNames::fileName(target);
    converted = target;
    audio->startConversion(source, target, config.spanFromMs, config.spanToMs);
}

void TranscriptionJob::conversionFinished(bool ok)
{
    if (current != Step::Converting)
        return;
    if (!ok) {
        fail(Failure::ConversionFailed);
        return;
    }
    // The copy is the job's own: the task list keeps the file as the user added it.
    showsConverted = true;
    if (tell([&] { emit taskEntryConverted(source, FileNames::fileName(converted)); }))
        getAudioLength();
}

void TranscriptionJob::getAudioLength()
{
    if (source.isEmpty()) {
        fail(Failure::DurationUnknown);
        return;
    }
    if (!setStep(Step::Probing))
        return;
    // A raw PCM file is read as it is; anything else through its converted copy.
    cutSource = converted.isEmpty() ? source : converted;
    audio->startProbe(cutSource);
}

int TranscriptionJob::segmentLength() const
{
    return config.segmentSeconds > 0 ? config.segmentSeconds : FfmpegArgs::segmentSeconds;
}

QString TranscriptionJob::segmentPath(int index) const
{
    return FfmpegArgs::segmentFile(config.segmentFolder, index);
}

void TranscriptionJob::beginSegments(int seconds)
{
    jobData.audioSeconds = seconds;
    jobData.segmentFiles.clear();
    const int length = segmentLength();
    jobData.segmentCount = seconds < length ? 1 : FfmpegArgs::segmentCount(seconds, length);
    // Segments an earlier run recognised are shown first and neither cut nor sent again.
    if (resume.segmentsCut(jobData.segmentCount)) {
        const QVector<RecognisedSegment> kept = resume.keptSegments();
        for (int index = 0; index < kept.size(); ++index) {
            if (!appendSegmentText(
                    index, kept[index].text, kept[index].hasText, kept[index].utterances))
                return;
        }
    }
    if (resume.firstSegment() >= jobData.segmentCount) {
        beginUpload();
        return;
    }
    if (seconds < length) {
        const QString segment = segmentPath(0);
        QFile::remove(segment);
        QFile::copy(cutSource, segment);
        if (QFileInfo(segment).size() == 0) {
            fail(Failure::CutFailed);
            return;
        }
        jobData.segmentFiles.append(segment);
        beginUpload();
        return;
    }
    jobData.segmentIndex = resume.firstSegment();
    if (setStep(Step::Cutting))
        startCut();
}

void TranscriptionJob::startCut()
{
    const int index = jobData.segmentIndex;
    const QString segment = segmentPath(index);
    // ffmpeg would stop and ask before overwriting a file left from an earlier run.
    QFile::remove(segment);
    jobData.segmentFiles.append(segment);
    audio->startCut(cutSource, FfmpegArgs::segmentStart(index, segmentLength()), segment,
        index == jobData.segmentCount - 1, segmentLength());
}

void TranscriptionJob::cutFinished(bool ok)
{
    if (current != Step::Cutting)
        return;
    if (!ok) {
        fail(Failure::CutFailed);
        return;
    }
    ++jobData.segmentIndex;
    if (!tell([&] {
            emit progressed({ Status::Cutting, jobData.segmentIndex, jobData.segmentCount });
        }))
        return;
    if (jobData.segmentIndex >= jobData.segmentCount) {
        beginUpload();
        return;
    }
    startCut();
}

void TranscriptionJob::beginUpload()
{
    if (!setStep(Step::Uploading,
            { Status::Uploading, jobData.segmentCount - int(jobData.segmentFiles.size()),
                jobData.segmentCount }))
        return;
    if (jobData.segmentFiles.isEmpty()) {
        finishFile();
        return;
    }
    sendSegment(nextSegment());
}

QString TranscriptionJob::nextSegment() const
{
    return jobData.segmentFiles.first();
}

void TranscriptionJob::sendSegment(const QString &segment)
{
    // Proven before every request, not once: the service may end between two of them (with the
    // program that started it) and another user's listener take its port.
    proveThen([this, segment] {
        if (serviceStarter)
            backend->serviceProven();
        if (!backend->isAuthenticated()) {
            authenticate([this] { beginUpload(); });
            return;
        }
        uploader->send(backend, segment, config);
    });
}

void TranscriptionJob::takeReply(const RecognitionReply &reply)
{
    if (reply.kind != RecognitionReply::Unrecognisable)
        jobData.lastErrNo = reply.errNo;

    switch (reply.kind) {
    case RecognitionReply::Text: {
        // The one place where recognised text becomes what the pane, the transcript, the
        // times and the subtitles hold.
        const RecognitionReply written = RecognisedText::asWritten(reply, config.textRules);
        const int index = jobData.segmentCount - jobData.segmentFiles.size();
        const qint64 lengthMs = jobData.segmentFiles.isEmpty()
            ? 0
            : UtteranceTimes::wavDurationMs(QFileInfo(jobData.segmentFiles.first()).size());
        TimedUtterances placed = UtteranceTimes::placeInFile(written.utterances, written.text,
            written.hasText,
            config.spanFromMs + UtteranceTimes::segmentStartMs(index, segmentLength()), lengthMs);
        UtteranceTimes::settle(&placed, timed.isEmpty() ? 0 : timed.last().endMs);
        // Kept before it is shown: whoever shows it may end the job.
        resume.recognised({ written.hasText, written.text, placed });
        if (!appendSegmentText(index, written.text, written.hasText, placed))
            return;
        if (!jobData.segmentFiles.isEmpty())
            QFile::remove(jobData.segmentFiles.takeFirst());
        beginUpload();
        break;
    }
    case RecognitionReply::Retry: // waited for by the uploader, never handed on
    case RecognitionReply::ServiceError:
    case RecognitionReply::UnknownCode:
    case RecognitionReply::Unrecognisable:
        fail(reply.failure);
        break;
    }
}

bool TranscriptionJob::appendSegmentText(
    int index, const QString &text, bool hasText, TimedUtterances utterances)
{
    const int count = jobData.segmentCount;
    UtteranceTimes::settle(&utterances, timed.isEmpty() ? 0 : timed.last().endMs);
    timed += utterances;
    if (hasText) {
        texts.append(text);
        if (!tell([&] { emit textRecognised(text); }))
            return false;
    }
    const int from = FfmpegArgs::segmentStart(index, segmentLength());
    const int to = FfmpegArgs::segmentEnd(index, jobData.audioSeconds, segmentLength());
    return tell([&] { emit segmentRecognised(index, count, from, to, hasText ? text : QString()); })
        && tell([&] { emit utterancesRecognised(index, utterances); });
}

void TranscriptionJob::finishFile()
{
    // A failure to save is reported instead of announced as done.
    const QString text = textSource ? textSource() : transcriptText(texts);
    if (const std::optional<JobFailure> failure
        = TranscriptWriter::write(transcript, QTextCodec::codecForLocale()->fromUnicode(text))) {
        fail(*failure);
        return;
    }
    resume.fileDone();

    const QString entry = cutSource;
    const QString written = transcript;
    discardConverted();
    showsConverted = false;
    // The list's listeners hear the removal as the job's own news.
    if (!tell([&] {
            if (tasks)
                tasks->remove(source);
        })
        || !tell([&] { emit fileFinished(entry, written); }))
        return;
    if (!tasks || tasks->isEmpty()) {
        source.clear();
        setIdle();
        finish({});
        return;
    }
    beginFile();
}
