#include "cli/liverunner.h"

#include "asr/jobnotices.h"
#include "asr/jobservice.h"
#include "asr/livetranscriber.h"
#include "asr/recognitionreply.h"
#include "asr/transcriptionjob.h"
#include "asr/transcriptwriter.h"
#include "audio/recorder.h"
#include "cli/jsontranscript.h"
#include "cli/outputplan.h"
#include "cli/progresstexts.h"
#include "core/subtitlefiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTextCodec>

namespace {

QString clock(qint64 ms)
{
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace

LiveRunner::LiveRunner(const CliOptions &options, const QString &clientId, std::FILE *out,
    std::FILE *err, QObject *parent)
    : QObject(parent)
    , options(options)
    , clientId(clientId)
    , out(out)
    , err(err)
    , recorder(new Recorder(this))
    , live(new LiveTranscriber(this))
{
    recorder->setLiveSamples(true);
    connect(recorder, &Recorder::samples, live, &LiveTranscriber::feed);
    connect(recorder, &Recorder::failed, this, [this](const QString &message) {
        say(this->err, message);
        done = true;
        emit finished(1);
    });
    // The device went away (or the stand-in's input ended): the recording ends as if stopped.
    connect(recorder->process(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
        &LiveRunner::endRecording);
    connect(live, &LiveTranscriber::recognised, this, [this](const TimedUtterance &text) {
        texts << text.text;
        utterances << text;
        say(this->out,
            QStringLiteral("[%1 – %2] %3").arg(clock(text.startMs), clock(text.endMs), text.text));
    });
    connect(live, &LiveTranscriber::gapMarked, this, [this](qint64 from, qint64 to) {
        texts << LiveTranscriber::gapText(from, to);
        say(this->out, texts.last());
    });
    connect(live, &LiveTranscriber::serviceTrouble, this, [this](const JobFailure &failure) {
        say(this->err, JobNotices::text(failure) + QStringLiteral(" (waiting for the service)"));
    });
    connect(live, &LiveTranscriber::serviceBack, this,
        [this] { say(this->err, QStringLiteral("the service answers again")); });
    connect(live, &LiveTranscriber::finished, this, &LiveRunner::writeAll);
}

LiveRunner::~LiveRunner()
{
    live->stop();
}

void LiveRunner::setService(
    const ServiceSettings &chosen, const QString &serviceSecret, SpeechServiceStarter *local)
{
    service = chosen;
    secret = serviceSecret;
    starter = local;
}

void LiveRunner::setCaptureInputOverride(const QStringList &args)
{
    recorder->setCaptureInputOverride(args);
}

QString LiveRunner::folder() const
{
    return options.outputDir.isEmpty() ? QDir::currentPath() : options.outputDir;
}

void LiveRunner::start()
{
    JobSettings settings;
    settings.serviceBaseUrl = service.url.isEmpty() ? options.serviceUrl : service.url;
    JobService::apply(service, &settings);
    settings.serviceSecret = secret;
    settings.textRules = service.textRules(options.language, terms);
    settings.clientId = clientId;
    settings.language = options.language;
    LiveSettings liveSettings;
    liveSettings.service = settings;
    live->setSettings(liveSettings);
    live->setServiceStarter(starter);
    live->start();
    // A name none of whose transcripts exist either: nothing of an earlier run is replaced.
    const QList<CliOptions::Format> formats = options.formats;
    const QString where = folder();
    recording = recorder->start(where,
        options.device.isEmpty() ? QStringLiteral("default") : options.device,
        [where, formats](const QString &path) {
            for (const CliOptions::Format format : formats) {
                if (QFileInfo::exists(OutputPlanRules::transcriptPath(path, where, format)))
                    return true;
            }
            return QFileInfo::exists(path);
        });
    if (!done)
        say(err, QStringLiteral("recording to %1; Ctrl+C ends").arg(recording));
}

void LiveRunner::interrupt(int)
{
    if (ending) {
        // Asked twice: what has come is written now.
        live->stop();
        writeAll();
        return;
    }
    endRecording();
}

void LiveRunner::endRecording()
{
    if (std::exchange(ending, true) || done)
        return;
    const bool written = recorder->finish();
    if (!written) {
        live->stop();
        say(err, QStringLiteral("no recording was written to %1").arg(recording));
        done = true;
        emit finished(1);
        return;
    }
    if (live->pendingCount() > 0)
        say(err, QStringLiteral("recording ended; waiting for the last texts"));
    // The utterance under way is sent too; finished() follows once every text has come.
    live->finish();
}

void LiveRunner::writeAll()
{
    if (std::exchange(done, true))
        return;
    JsonTranscript json;
    json.file = recording;
    json.language = options.language;
    json.service = service.url.isEmpty() ? options.serviceUrl : service.url;
    for (const TimedUtterance &utterance : qAsConst(utterances))
        json.segments << TranscriptSegment { utterance.startMs / 1000.0, utterance.endMs / 1000.0,
            utterance.text };
    json.utterances = utterances;
    const QString text = transcriptText(texts);
    int status = 0;
    for (const CliOptions::Format format : qAsConst(options.formats)) {
        const QString path = OutputPlanRules::transcriptPath(recording, folder(), format);
        const QByteArray bytes = format == CliOptions::Json ? JsonTranscriptRules::build(json, text)
            : format == CliOptions::Srt                     ? SubtitleFiles::srt(utterances)
            : format == CliOptions::Vtt                     ? SubtitleFiles::vtt(utterances)
                                        : QTextCodec::codecForLocale()->fromUnicode(text);
        if (const std::optional<JobFailure> failure = TranscriptWriter::write(path, bytes)) {
            say(err, JobNotices::text(*failure));
            status = 1;
            continue;
        }
        // As a file job tells them: each transcript's path on standard output.
        say(out, ProgressTexts::printable(path));
    }
    say(err, QStringLiteral("recording: %1").arg(ProgressTexts::printable(recording)));
    emit finished(status);
}

void LiveRunner::say(std::FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}
