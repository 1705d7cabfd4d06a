#include "audio/ffmpegrunner.h"

#include <QPointer>

FfmpegRunner::FfmpegRunner(QObject *parent)
    : QObject(parent)
{ }

QString FfmpegRunner::programName()
{
    return QStringLiteral("ffmpeg");
}

void FfmpegRunner::start(QProcess *process, const QStringList &arguments)
{
    watch(process);
    // A run left over from an aborted step must not block the next one.
    if (process->state() != QProcess::NotRunning)
        stopQuietly(process);
    process->setProgram(programName());
    process->setArguments(arguments);
    process->start(QIODevice::ReadWrite);
}

bool FfmpegRunner::succeeded(const QProcess *process)
{
    return process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
}

void FfmpegRunner::stopQuietly(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    const bool wasBlocked = process->blockSignals(true);
    process->kill();
    process->waitForFinished(5000);
    process->readAll();
    process->blockSignals(wasBlocked);
}

void FfmpegRunner::watch(QProcess *process)
{
    if (watched.contains(process))
        return;
    watched.insert(process);
    connect(process, &QObject::destroyed, this, [this, process] { watched.remove(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        QPointer<QProcess> guarded(process);
        QMetaObject::invokeMethod(
            this,
            [this, guarded] {
                if (guarded)
                    emit failedToStart(guarded);
            },
            Qt::QueuedConnection);
    });
}
