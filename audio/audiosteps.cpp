#include "audio/audiosteps.h"

#include <QFile>
#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "audio/durationparser.h"
#include "audio/ffmpegargs.h"
#include "audio/ffmpegrunner.h"
#include "audio/logging.h"
#include "audio/wavinfo.h"
#include "platform/childprocess.h"

namespace {
bool holdsSamples(const QString &path)
{
    const WavInfo info = WavInfo::fromFile(path);
    return info.valid && info.dataBytes > 0;
}
// The copy starts as an empty file of the user's only (mode 600), made here, exclusively and not
// through a link: ffmpeg then writes into that file, whatever the source's or the umask's mode,
// and nothing planted at the name is followed.
bool makePrivateTarget(const QString &path)
{
    QFile::remove(path); // a link is removed itself, never what it points to
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        qCWarning(lcAudio).noquote() << "cannot make the converted copy" << path << ":"
                                     << std::strerror(error) << "errno" << error;
        return false;
    }
    ::close(fd);
    return true;
}

// The notice names the step only; the log keeps what ffmpeg said and how it ended.
void logFailedRun(const char *step, QProcess *process, const QString &file)
{
    const QString said = QString::fromLocal8Bit(process->readAllStandardError()).right(400);
    qCWarning(lcAudio).noquote() << step << "of" << file << "failed: exit status"
                                 << int(process->exitStatus()) << "code" << process->exitCode()
                                 << said.trimmed();
}
} // namespace

AudioSteps::AudioSteps(QObject *parent)
    : QObject(parent)
    , convert(new ChildProcess(this))
    , probe(new ChildProcess(this))
    , cut(new ChildProcess(this))
    , runner(new FfmpegRunner(this))
{
    using Finished = void (QProcess::*)(int, QProcess::ExitStatus);
    const Finished finished = &QProcess::finished;
    probe->setProcessChannelMode(QProcess::MergedChannels);
    connect(convert, finished, this, &AudioSteps::conversionEnded);
    connect(probe, finished, this, &AudioSteps::probeEnded);
    connect(probe, &QProcess::readyRead, this, &AudioSteps::probeOutputReady);
    connect(cut, finished, this, &AudioSteps::cutEnded);
    connect(runner, &FfmpegRunner::failedToStart, this, [this](QProcess *process) {
        const bool ours = (process == convert && current == Run::Conversion)
            || (process == probe && current == Run::Probe)
            || (process == cut && current == Run::Cut);
        if (!ours)
            return;
        current = Run::None;
        qCWarning(lcAudio).noquote()
            << "cannot start" << FfmpegRunner::programName() << ":" << process->errorString();
        emit toolMissing();
    });
}

AudioSteps::~AudioSteps()
{
    blockSignals(true);
    stop();
}

void AudioSteps::begin(Run run, QProcess *process, const QStringList &arguments)
{
    current = run;
    runner->start(process, arguments);
}

void AudioSteps::startConversion(
    const QString &source, const QString &targetFile, qint64 fromMs, qint64 toMs)
{
    target = targetFile;
    if (!makePrivateTarget(targetFile)) {
        // Reported as the conversion's failure, from the loop as ffmpeg's end would be.
        current = Run::Conversion;
        QTimer::singleShot(0, this, [this] {
            if (current != Run::Conversion)
                return;
            current = Run::None;
            emit conversionFinished(false);
        });
        return;
    }
    begin(Run::Conversion, convert, FfmpegArgs::conversion(source, targetFile, fromMs, toMs));
}

void AudioSteps::startProbe(const QString &file)
{
    probeOutput.clear();
    probedMs = 0;
    begin(Run::Probe, probe, FfmpegArgs::probe(file));
}

void AudioSteps::startCut(
    const QString &file, int startSecond, const QString &segment, bool last, int length)
{
    target = segment;
    begin(Run::Cut, cut, FfmpegArgs::cut(file, startSecond, segment, last, length));
}

void AudioSteps::stop()
{
    current = Run::None;
    for (QProcess *process : { convert, probe, cut })
        FfmpegRunner::stopQuietly(process);
    probeOutput.clear();
}

void AudioSteps::conversionEnded()
{
    if (current != Run::Conversion || convert->state() != QProcess::NotRunning)
        return;
    current = Run::None;
    const bool ok = FfmpegRunner::succeeded(convert) && holdsSamples(target);
    if (!ok)
        logFailedRun("conversion", convert, target);
    emit conversionFinished(ok);
}

void AudioSteps::probeOutputReady()
{
    const QByteArray chunk = probe->readAll();
    if (current != Run::Probe)
        return;
    probeOutput += chunk;
    finishProbe(false);
}

void AudioSteps::probeEnded()
{
    if (current != Run::Probe || probe->state() != QProcess::NotRunning)
        return;
    probeOutput += probe->readAll();
    if (!finishProbe(true)) {
        current = Run::None;
        qCWarning(lcAudio).noquote() << "no duration in the probe's output:"
                                     << QString::fromLocal8Bit(probeOutput).right(400).trimmed();
        emit durationMissing();
    }
}

bool AudioSteps::finishProbe(bool atEnd)
{
    const QString text = QString::fromLocal8Bit(probeOutput);
    // The label and the time arrive in separate writes: wait for the whole line.
    if (!atEnd && !DurationParser::hasCompleteLine(text))
        return false;
    int seconds = 0;
    if (!DurationParser::parseSeconds(text, &seconds)
        || !DurationParser::parseMilliseconds(text, &probedMs))
        return false;
    current = Run::None;
    // The probe has said all it has to say; it must not report again.
    FfmpegRunner::stopQuietly(probe);
    emit durationFound(seconds);
    return true;
}

void AudioSteps::cutEnded()
{
    if (current != Run::Cut || cut->state() != QProcess::NotRunning)
        return;
    current = Run::None;
    const bool ok = FfmpegRunner::succeeded(cut) && holdsSamples(target);
    if (!ok)
        logFailedRun("cut", cut, target);
    emit cutFinished(ok);
}
