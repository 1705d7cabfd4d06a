// Measures the whole chain on synthetic English speech of 1, 5 and 20 minutes: the desktop
// program's real job (offscreen window, real ffmpeg, the real local speech service) against
// pocketsphinx_continuous on the same audio. Prints one "name: value" line per figure.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QComboBox>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <cstdio>

#include "core/programlayout.h"
#include "ui/appglobals.h"
#include "asr/qthttpclass.h"
#include "common/scripteddialogs.h"
#include "common/speechservice.h"
#include "common/wordrate.h"
#include "cputime.h"
#include "figures.h"
#include "common/windowview.h"
#include "ui/widget.h"

using Bench::figure;
using Bench::peakRssMb;

namespace {

// Sentences of the fixed text, repeated in order until about `seconds` of speech.
QString textForSeconds(const QStringList &sentences, int seconds)
{
    // flite's "slt" voice speaks about 3.4 words a second.
    const int wordsWanted = int(seconds * 3.4);
    QStringList chosen;
    int words = 0;
    for (int i = 0; words < wordsWanted; ++i) {
        const QString &sentence = sentences.at(i % sentences.size());
        chosen << sentence;
        words += WordRate::words(sentence).size();
    }
    return chosen.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

double audioSeconds(const QString &wav)
{
    return (QFileInfo(wav).size() - 44) / 32000.0;
}

struct ChainFigures
{
    double wallMs = 0;
    double conversionMs = 0;
    double probeAndCutsMs = 0;
    double requestsMs = 0;
    double decodeMs = 0;
    int requests = 0;
    QString transcript;
    bool finished = false;
};

// Times each run of one of the window's ffmpeg processes, start to end.
void timeRuns(QProcess *process, double *total, QElapsedTimer *clock, double *mark)
{
    auto started = std::make_shared<qint64>(0);
    QObject::connect(process, &QProcess::started, [=] { *started = clock->elapsed(); });
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     [=](int, QProcess::ExitStatus) {
                         *total += clock->elapsed() - *started;
                         *mark = clock->elapsed();
                     });
}

ChainFigures runChain(const QString &serviceUrl, const QString &audio, const QString &home)
{
    ChainFigures f;
    AppGlobals::setAppDir(home);
    ScriptedDialogs dialogs;
    Widget window;
    window.hide();
    window.setServiceBaseUrl(serviceUrl);
    View::combo(window, "languageCombo")->setCurrentText(QStringLiteral("英文"));
    dialogs.openResults.enqueue({audio});
    View::button(window, "uploadButton")->click();

    QElapsedTimer clock;
    double mark = 0;
    timeRuns(View::convertProcess(window), &f.conversionMs, &clock, &mark);
    timeRuns(View::probeProcess(window), &f.probeAndCutsMs, &clock, &mark);
    timeRuns(View::cutProcess(window), &f.probeAndCutsMs, &clock, &mark);
    // A request's round trip runs from the end of the step before it to its reply.
    QObject::connect(View::http(window), &QtHttpClass::sigReplyFinish, &window, [&](int id, const QByteArray &body) {
        if (id != 2)
            return;
        f.requestsMs += clock.elapsed() - mark;
        mark = clock.elapsed();
        ++f.requests;
        f.decodeMs += QJsonDocument::fromJson(body).object().value(QStringLiteral("decode_ms")).toDouble();
    });

    // Sleep in the event loop until the job's closing notice: a polling loop here would take
    // a core away from the service being measured.
    QEventLoop loop;
    dialogs.onInformation = [&](const QString &) { loop.quit(); };
    QTimer::singleShot(3600 * 1000, &loop, &QEventLoop::quit);
    clock.start();
    View::button(window, "startConvertButton")->click();
    if (dialogs.notices.isEmpty())
        loop.exec();
    f.wallMs = clock.elapsed();
    f.finished = dialogs.noticeTexts() == QStringList{QStringLiteral("文件已经全部转换完成！")};
    if (!f.finished)
        figure(QStringLiteral("error"), dialogs.noticeTexts().join(QLatin1Char(' ')));

    QFile transcript(ProgramLayout::transcriptFolder(home) + QLatin1Char('/')
        + QFileInfo(audio).completeBaseName() + QStringLiteral(".txt"));
    if (transcript.open(QIODevice::ReadOnly))
        f.transcript = QTextCodec::codecForLocale()->toUnicode(transcript.readAll());
    return f;
}

struct DirectFigures
{
    double ms = 0;
    double cpuSeconds = 0;
    QString text;
};

DirectFigures runPocketsphinxContinuous(const QString &wav)
{
    DirectFigures d;
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    const double cpu = CpuTime::children();
    p.start(QStringLiteral("pocketsphinx_continuous"),
            {QStringLiteral("-infile"), wav, QStringLiteral("-logfn"), QStringLiteral("/dev/null")});
    p.waitForFinished(-1);
    d.ms = clock.elapsed();
    d.cpuSeconds = CpuTime::children() - cpu;
    d.text = QString::fromUtf8(p.readAllStandardOutput());
    return d;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Speed of the whole transcription chain."));
    parser.addHelpOption();
    QCommandLineOption minutesOption(QStringLiteral("minutes"),
                                     QStringLiteral("Lengths of speech, comma-separated."),
                                     QStringLiteral("list"), QStringLiteral("1,5,20"));
    QCommandLineOption skipDirect(QStringLiteral("no-direct"),
                                  QStringLiteral("Skip pocketsphinx_continuous."));
    QCommandLineOption threadsOption(QStringLiteral("threads"),
                                     QStringLiteral("Decoders of the speech service (default: one per core)."),
                                     QStringLiteral("n"));
    QCommandLineOption searchOption(QStringLiteral("search"),
                                    QStringLiteral("Search of the speech service: fast (its default) or accurate."),
                                    QStringLiteral("preset"));
    QCommandLineOption serviceOptions(QStringLiteral("service-options"),
        QStringLiteral("More options for the speech service, e.g. \"--max-words-per-frame 20\"."),
        QStringLiteral("text"));
    parser.addOption(minutesOption);
    parser.addOption(threadsOption);
    parser.addOption(searchOption);
    parser.addOption(serviceOptions);
    parser.addOption(skipDirect);
    parser.process(app);

    QFile textFile(QStringLiteral(TOV_SOURCE_DIR "/tests/common/speechtext.txt"));
    if (!textFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read the speech text\n");
        return 1;
    }
    const QStringList sentences = QString::fromUtf8(textFile.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    QStringList serviceArguments;
    if (parser.isSet(threadsOption))
        serviceArguments << QStringLiteral("--threads") << parser.value(threadsOption);
    if (parser.isSet(searchOption))
        serviceArguments << QStringLiteral("--search") << parser.value(searchOption);
    serviceArguments << parser.value(serviceOptions).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    SpeechServiceProcess service(serviceArguments);
    if (!service.start()) {
        std::fprintf(stderr, "the speech service did not start:\n%s\n", qPrintable(service.logText()));
        return 1;
    }
    figure(QStringLiteral("cores"), QString::number(QThread::idealThreadCount()));
    figure(QStringLiteral("service_options"), serviceArguments.join(QLatin1Char(' ')));

    QMap<int, double> wallByMinutes;
    for (const QString &item : parser.value(minutesOption).split(QLatin1Char(','))) {
        const int minutes = item.toInt();
        if (minutes <= 0)
            continue;
        const QString p = QStringLiteral("%1min_").arg(minutes);
        QTemporaryDir home;
        const QString textPath = home.filePath(QStringLiteral("spoken.txt"));
        const QString reference = textForSeconds(sentences, minutes * 60);
        QFile spoken(textPath);
        spoken.open(QIODevice::WriteOnly);
        spoken.write(reference.toUtf8());
        spoken.close();
        const QString wav = home.filePath(QStringLiteral("speech %1 min.wav").arg(minutes));
        if (!makeSpeechWav(textPath, wav)) {
            std::fprintf(stderr, "flite or ffmpeg failed\n");
            return 1;
        }
        figure(p + QStringLiteral("audio_seconds"), audioSeconds(wav), 1);
        // The job removes its intermediate file, so the direct run gets its own copy.
        const QString directWav = home.filePath(QStringLiteral("direct.wav"));
        QFile::copy(wav, directWav);

        const double serviceCpu = CpuTime::process(service.pid());
        const ChainFigures f = runChain(service.baseUrl(), wav, home.path());
        const double serviceCpuUsed = CpuTime::process(service.pid()) - serviceCpu;
        wallByMinutes[minutes] = f.wallMs;
        figure(p + QStringLiteral("chain_finished"), f.finished ? QStringLiteral("yes") : QStringLiteral("no"));
        figure(p + QStringLiteral("wall_s"), f.wallMs / 1000.0);
        figure(p + QStringLiteral("conversion_s"), f.conversionMs / 1000.0);
        figure(p + QStringLiteral("probe_and_cuts_s"), f.probeAndCutsMs / 1000.0);
        figure(p + QStringLiteral("requests"), QString::number(f.requests));
        figure(p + QStringLiteral("request_round_trips_s"), f.requestsMs / 1000.0);
        figure(p + QStringLiteral("service_decoding_s"), f.decodeMs / 1000.0);
        figure(p + QStringLiteral("service_cpu_s"), serviceCpuUsed);
        const double work = f.conversionMs + f.probeAndCutsMs + f.decodeMs;
        figure(p + QStringLiteral("overhead_ratio"), work > 0 ? f.wallMs / work : 0, 3);
        const double chainWer = WordRate::errorRate(reference, f.transcript);
        figure(p + QStringLiteral("chain_wer_percent"), chainWer * 100.0, 1);

        if (!parser.isSet(skipDirect)) {
            const DirectFigures d = runPocketsphinxContinuous(directWav);
            figure(p + QStringLiteral("pocketsphinx_continuous_s"), d.ms / 1000.0);
            figure(p + QStringLiteral("decoding_ratio_service_to_continuous"),
                   d.ms > 0 ? f.decodeMs / d.ms : 0, 3);
            figure(p + QStringLiteral("pocketsphinx_continuous_cpu_s"), d.cpuSeconds);
            figure(p + QStringLiteral("cpu_ratio_service_to_continuous"),
                   d.cpuSeconds > 0 ? serviceCpuUsed / d.cpuSeconds : 0, 3);
            const double directWer = WordRate::errorRate(reference, d.text);
            figure(p + QStringLiteral("pocketsphinx_continuous_wer_percent"), directWer * 100.0, 1);
            figure(p + QStringLiteral("wer_points_above_continuous"), (chainWer - directWer) * 100.0, 1);
        }
    }
    if (wallByMinutes.contains(5) && wallByMinutes.contains(20) && wallByMinutes[5] > 0)
        figure(QStringLiteral("growth_ratio_20_to_5"), wallByMinutes[20] / wallByMinutes[5], 3);
    // The service's own log, one line per request, for a closer look at its figures.
    std::fprintf(stderr, "%s", qPrintable(service.logText()));
    figure(QStringLiteral("desktop_peak_rss_mb"), peakRssMb(0), 1);
    figure(QStringLiteral("service_peak_rss_mb"), peakRssMb(service.pid()), 1);
    return 0;
}
