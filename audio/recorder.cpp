#include "audio/recorder.h"

#include <QDateTime>
#include <QFileInfo>
#include <QProcess>

#include "audio/audiotexts.h"
#include "audio/ffmpegargs.h"
#include "audio/ffmpegrunner.h"
#include "audio/logging.h"
#include "platform/captureinput.h"
#include "platform/childprocess.h"

Recorder::Recorder(QObject *parent)
    : QObject(parent)
    , recording(new ChildProcess(this))
    , runner(new FfmpegRunner(this))
{
    connect(runner, &FfmpegRunner::failedToStart, this, [this] {
        qCWarning(lcAudio).noquote() << "cannot start the recording:" << recording->errorString();
        emit failed(QStringLiteral("未找到ffmpeg程序，无法处理音频！"));
    });
    // Read as it comes, so that no pipe fills and stalls the recording, and ffmpeg's running
    // report does not pile up over a long recording.
    connect(recording, &QProcess::readyReadStandardOutput, this, [this] {
        const QByteArray pcm = recording->readAllStandardOutput();
        if (live && !pcm.isEmpty())
            emit samples(pcm);
    });
    connect(recording, &QProcess::readyReadStandardError, this,
        [this] { recording->readAllStandardError(); });
}

Recorder::~Recorder()
{
    blockSignals(true);
    if (isRecording())
        finish();
}

QString Recorder::start(const QString &folder, const QString &device,
    const std::function<bool(const QString &path)> &isTaken)
{
    file = AudioTexts::recordFilePath(folder, QDateTime::currentDateTime(), isTaken);
    QStringList capture = CaptureInput::argumentsFor(device);
    if (!captureOverride.isEmpty()) {
        capture = captureOverride;
        // A stand-in source (a generated signal) is read at its own pace, as a device would be.
        if (!capture.contains(QLatin1String("-re")))
            capture.prepend(QStringLiteral("-re"));
    }
    runner->start(recording, FfmpegArgs::recording(capture, file, live));
    return file;
}

bool Recorder::isRecording() const
{
    return recording->state() != QProcess::NotRunning;
}

bool Recorder::finish()
{
    if (isRecording()) {
        // The quit key lets ffmpeg finish the file; terminate covers a tool that does not read it.
        recording->write("q");
        recording->waitForBytesWritten(1000);
        if (!recording->waitForFinished(5000)) {
            recording->terminate();
            if (!recording->waitForFinished(10000))
                FfmpegRunner::stopQuietly(recording);
        }
    }
    const QByteArray rest = recording->readAllStandardOutput();
    if (live && !rest.isEmpty())
        emit samples(rest);
    const bool written = QFileInfo(file).isFile();
    if (!written)
        qCWarning(lcAudio).noquote() << "the recording wrote no" << file << ": exit code"
                                     << recording->exitCode() << "of" << recording->program();
    return written;
}
