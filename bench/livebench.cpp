// Live transcription as a user meets it: a recording made by the recorder's ffmpeg, reading a
// file at real-time speed as a device would deliver it, into the real local service. Prints the
// latency from each utterance's end to its text, the word error rate against the same file run
// as a file job, and the CPU time and peak memory of both sides.
//
//   livebench [--speed X] [--no-job] [--memory FILE] [FILE.wav [REFERENCE.txt]]
//     default audio: sentences of tests/common/speechtext.txt read by flite, each in a 10 s slot
//     --speed X      feed X times faster than real time (for hours of audio; latency is then
//                    no user's)
//     --no-job       the live run only
//     --memory FILE  each minute of audio, the resident memory of the service and of the
//                    recording side, in MiB; the service's log beside it (FILE.service.log)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "asr/livetranscriber.h"
#include "asr/transcriptionjob.h"
#include "audio/recorder.h"
#include "common/paddedspeech.h"
#include "common/speechservice.h"
#include "common/wordrate.h"
#include "core/tasklist.h"
#include "cputime.h"
#include "figures.h"

namespace {

// Resident memory of a process, in MiB: its peak (VmHWM) or now (VmRSS).
double memoryMiB(qint64 pid, const QByteArray &field = "VmHWM:")
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

struct Options
{
    QString file;
    QString referenceFile;
    double speed = 1;
    bool job = true;
    QString memoryFile;
};

Options parseOptions(QStringList args)
{
    Options o;
    args.removeFirst();
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--speed"))
            o.speed = qMax(0.1, args.isEmpty() ? 1.0 : args.takeFirst().toDouble());
        else if (a == QLatin1String("--no-job"))
            o.job = false;
        else if (a == QLatin1String("--memory"))
            o.memoryFile = args.isEmpty() ? QString() : args.takeFirst();
        else if (o.file.isEmpty())
            o.file = a;
        else
            o.referenceFile = a;
    }
    return o;
}

double percentile(QVector<double> values, double share)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[qMin(values.size() - 1, int(share * values.size()))];
}

JobSettings serviceSettings(const QString &url)
{
    JobSettings settings;
    settings.serviceBaseUrl = url;
    settings.language = QStringLiteral("英文");
    settings.clientId = QStringLiteral("8-0-27-aa-bb-1");
    return settings;
}

struct LiveRun
{
    QStringList texts;
    QVector<double> fromCutMs; // the end-point decision (after the pause) to the text
    QVector<double> utteranceS;
    double wallS = 0;
    double clientCpuS = 0;
    double serviceCpuS = 0;
};

// The service's own account of the live run, from its access log, read as it comes (a long
// run's log is not kept): how many pieces came and how long the slowest took to decode, how
// many utterances went whole and their decoding.
struct ServiceShare
{
    QVector<double> pieces;
    QVector<double> pieceAudio;
    QVector<double> whole;
    QString rest; // a line not yet complete

    void take(const QString &text)
    {
        static const QRegularExpression line(QStringLiteral(
            "POST (/server_api\\S*) status=200 err_no=0 audio_s=(\\S+) decode_ms=(\\d+)"));
        rest += text;
        const int end = rest.lastIndexOf(QLatin1Char('\n')) + 1;
        for (auto it = line.globalMatch(rest.left(end)); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const bool isWhole = m.captured(1) == QLatin1String("/server_api");
            (isWhole ? whole : pieces) << m.captured(3).toDouble();
            if (!isWhole)
                pieceAudio << m.captured(2).toDouble();
        }
        rest.remove(0, end);
    }
    void print() const;
};

void ServiceShare::print() const
{
    Bench::figure("live_pieces", pieces.size(), 0);
    Bench::figure("live_piece_decode_p95_ms", percentile(pieces, 0.95), 0);
    // Pieces longer than the 200 ms asked for: the service fell behind the speech.
    Bench::figure("live_piece_audio_max_s", percentile(pieceAudio, 1.0), 2);
    Bench::figure("whole_utterance_requests", whole.size(), 0);
    Bench::figure("whole_utterance_decode_p50_ms", percentile(whole, 0.5), 0);
}

// Each minute of audio, the resident memory of both sides, and the service's log taken in.
QTimer *sampleMemory(
    const Options &options, SpeechServiceProcess &service, ServiceShare &share, QObject *parent)
{
    auto *timer = new QTimer(parent);
    auto *out = new QFile(options.memoryFile, timer);
    auto *log = new QFile(options.memoryFile + QStringLiteral(".service.log"), timer);
    if (!options.memoryFile.isEmpty() && out->open(QIODevice::WriteOnly | QIODevice::Text)
        && log->open(QIODevice::WriteOnly | QIODevice::Text))
        out->write("audio_min service_rss_mib client_rss_mib pieces whole_requests\n");
    auto minutes = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [&service, &share, out, log, minutes] {
        const QString text = service.takeNewLog();
        share.take(text);
        if (!out->isOpen())
            return;
        log->write(text.toUtf8());
        log->flush();
        out->write(QStringLiteral("%1 %2 %3 %4 %5\n")
                       .arg(++*minutes)
                       .arg(memoryMiB(service.pid(), "VmRSS:"), 0, 'f', 1)
                       .arg(memoryMiB(QCoreApplication::applicationPid(), "VmRSS:"), 0, 'f', 1)
                       .arg(share.pieces.size())
                       .arg(share.whole.size())
                       .toUtf8());
        out->flush();
    });
    timer->start(int(60000 / options.speed));
    return timer;
}

LiveRun runLive(const Options &options, const QString &folder, SpeechServiceProcess &service,
    ServiceShare &share)
{
    LiveRun run;
    LiveSettings settings;
    settings.service = serviceSettings(service.baseUrl());
    LiveTranscriber live;
    live.setSettings(settings);
    Recorder recorder;
    QStringList input { QStringLiteral("-i"), options.file };
    // The recorder reads a stand-in at real time (-re); a read rate given takes its place.
    if (options.speed != 1)
        input = QStringList { QStringLiteral("-readrate"), QString::number(options.speed) } + input;
    recorder.setCaptureInputOverride(input);
    recorder.setLiveSamples(true);
    QObject::connect(&recorder, &Recorder::samples, &live, &LiveTranscriber::feed);
    QElapsedTimer clock;
    // Utterance start -> the wall clock's ms when the pause that ended it was heard.
    QMap<qint64, qint64> cutAt;
    QObject::connect(&live, &LiveTranscriber::utteranceCut, [&](qint64 startMs, qint64 endMs) {
        cutAt.insert(startMs, clock.elapsed());
        run.utteranceS << (endMs - startMs) / 1000.0;
    });
    QObject::connect(&live, &LiveTranscriber::recognised, [&](const TimedUtterance &text) {
        run.texts << text.text;
        run.fromCutMs << double(clock.elapsed() - cutAt.value(text.startMs));
    });
    QEventLoop loop;
    QObject::connect(&live, &LiveTranscriber::finished, &loop, &QEventLoop::quit);
    QObject::connect(
        recorder.process(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop, [&] {
            recorder.finish();
            live.finish();
        });
    const double serviceBefore = CpuTime::process(service.pid(), true);
    const double clientBefore = CpuTime::process(QCoreApplication::applicationPid(), true);
    sampleMemory(options, service, share, &live);
    clock.start();
    live.start();
    recorder.start(folder, QString(), [](const QString &) { return false; });
    loop.exec();
    run.wallS = clock.elapsed() / 1000.0;
    run.clientCpuS = CpuTime::process(QCoreApplication::applicationPid(), true) - clientBefore;
    run.serviceCpuS = CpuTime::process(service.pid(), true) - serviceBefore;
    share.take(service.takeNewLog());
    return run;
}

QString runFileJob(const QString &file, const QString &folder, const QString &url)
{
    TaskList tasks;
    tasks.add(file);
    TranscriptionJob job;
    JobSettings settings = serviceSettings(url);
    settings.segmentFolder = folder + QStringLiteral("/segments");
    settings.transcriptFolder = folder + QStringLiteral("/job");
    settings.convertBesideSource = false;
    QDir().mkpath(settings.transcriptFolder);
    job.setSettings(settings);
    job.setTaskList(&tasks);
    QStringList texts;
    QObject::connect(
        &job, &TranscriptionJob::textRecognised, [&](const QString &t) { texts << t; });
    QEventLoop loop;
    QObject::connect(&job, &TranscriptionJob::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    return texts.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Options options = parseOptions(app.arguments());
    QString &file = options.file;
    QString reference;
    if (file.isEmpty()) {
        QFile text(QStringLiteral(TOV_SOURCE_DIR "/tests/common/speechtext.txt"));
        text.open(QIODevice::ReadOnly);
        const QStringList sentences = QString::fromUtf8(text.readAll())
                                          .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                          .mid(0, 10);
        reference = sentences.join(QLatin1Char(' '));
        file = dir.filePath(QStringLiteral("speech.wav"));
        if (!makePaddedSpeech(file, sentences, 10)) {
            std::fprintf(stderr, "livebench: the speech could not be made\n");
            return 1;
        }
    } else if (!options.referenceFile.isEmpty()) {
        QFile text(options.referenceFile);
        text.open(QIODevice::ReadOnly);
        reference = QString::fromUtf8(text.readAll());
    }
    SpeechServiceProcess service;
    if (!service.start()) {
        std::fprintf(stderr, "livebench: %s\n", qPrintable(service.logText()));
        return 1;
    }
    ServiceShare share;
    const LiveRun live = runLive(options, dir.path(), service, share);
    const double servicePeak = memoryMiB(service.pid());
    const double clientPeak = memoryMiB(QCoreApplication::applicationPid());
    const QString jobText
        = options.job ? runFileJob(file, dir.path(), service.baseUrl()) : QString();
    const QString liveText = live.texts.join(QLatin1Char(' '));

    Bench::figure("live_audio_s", live.wallS, 1);
    Bench::figure("live_utterances", live.texts.size(), 0);
    Bench::figure("utterance_p50_s", percentile(live.utteranceS, 0.5), 1);
    Bench::figure("latency_after_pause_p50_ms", percentile(live.fromCutMs, 0.5), 0);
    Bench::figure("latency_after_pause_p95_ms", percentile(live.fromCutMs, 0.95), 0);
    if (!reference.isEmpty())
        Bench::figure("wer_live_pct", 100 * WordRate::errorRate(reference, liveText), 1);
    if (!reference.isEmpty() && options.job)
        Bench::figure("wer_file_job_pct", 100 * WordRate::errorRate(reference, jobText), 1);
    if (options.job)
        Bench::figure(
            "wer_live_against_file_job_pct", 100 * WordRate::errorRate(jobText, liveText), 1);
    share.print();
    Bench::figure("cpu_service_core_share", live.serviceCpuS / live.wallS, 3);
    Bench::figure("cpu_client_core_share", live.clientCpuS / live.wallS, 3);
    Bench::figure("peak_memory_service_mib", servicePeak, 1);
    Bench::figure("peak_memory_client_mib", clientPeak, 1);
    return 0;
}
